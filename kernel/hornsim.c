// SPDX-License-Identifier: GPL-2.0
/*
 * hornsim: stand-in buzzer and LED drivers for testing hornset against a real
 * kernel. A test fixture only; never install it on a board.
 *
 * /dev/hornio (misc device) speaks both buzzer interfaces:
 *   - text commands: up to three items in the order "period N", "count N",
 *     "pattern REST", separated by single spaces (N: optional '-' and decimal
 *     digits that fit an int; REST: one or more bytes of anything). Anything
 *     else is refused with EINVAL. The last accepted setting is kept.
 *   - read: the status reply, at most 2000 bytes, e.g.
 *     "status: period 10 count 3 pattern xyz\n", "status: off 10 on 20 count 3\n"
 *     or "status: idle\n".
 *   - ioctl HORN_SET (_IOW('k', 1, int)) takes the timing word from the caller's
 *     address; HORN_GET (_IOR('k', 2, int)) stores the last set word there (0
 *     when none). Other requests fail with ENOTTY, bad addresses with EFAULT.
 * /proc/lampstat shows the parameter "lampstat" with each '|' as a line break
 * and a final newline (nothing at all when the parameter is empty).
 *
 * Parameters under /sys/module/hornsim/parameters/ steer it at run time:
 *   lampstat        text of /proc/lampstat
 *   proc            0 removes /proc/lampstat, 1 creates it again
 *   open_errno      open fails with this errno
 *   write_errno     write fails with this errno
 *   write_zero      write transfers 0 bytes
 *   read_errno      read fails with this errno
 *   read_empty      read returns 0 bytes
 *   read_extra      read copies the reply as usual but reports this many bytes
 *                   more than it was asked for (a driver breaking the contract)
 *   ioctl_errno     both requests fail with this errno
 *   ioctl_result    both requests return this positive value instead of 0
 *   reply           fixed status reply text instead of the setting
 *   reply_len       reply length: "reply" repeated up to this many bytes
 *   reply_nul       index of a byte of the reply replaced by NUL (-1: none)
 *   seen            what reached the driver since the last reset (read only)
 *   reset           "record" clears "seen"; "all" also clears the setting,
 *                   every fault and the reply, and restores the default board
 */
#include <linux/ctype.h>
#include <linux/fs.h>
#include <linux/ioctl.h>
#include <linux/kernel.h>
#include <linux/miscdevice.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/proc_fs.h>
#include <linux/seq_file.h>
#include <linux/string.h>
#include <linux/uaccess.h>
#include <linux/version.h>

#define HORN_SET _IOW('k', 1, int)
#define HORN_GET _IOR('k', 2, int)

/*
 * The longest command, the same for the three stand-in drivers: emulator/command_limit.h
 * states it for all of them, but this file is built alone, so it says it again here (the
 * emulator's build checks that the two agree).
 */
#define HORN_CMD_MAX 2048
#define HORN_REPLY_MAX 2000
#define HORN_FIXED_MAX 4096
#define LAMPSTAT_MAX 2048

static const char lampstat_default[] = "hornsim lamp driver|model: QTR-PN rev2";

static DEFINE_MUTEX(horn_lock);

static char lampstat[LAMPSTAT_MAX] = "hornsim lamp driver|model: QTR-PN rev2";
static int lampstat_set(const char *val, const struct kernel_param *kp)
{
	size_t n = strlen(val);

	/* One trailing newline is dropped: "echo >lampstat" empties the file. */
	if (n && val[n - 1] == '\n')
		n--;
	if (n >= sizeof(lampstat))
		return -ENOSPC;
	mutex_lock(&horn_lock);
	memcpy(lampstat, val, n);
	lampstat[n] = '\0';
	mutex_unlock(&horn_lock);
	return 0;
}

static int lampstat_get(char *buffer, const struct kernel_param *kp)
{
	return scnprintf(buffer, PAGE_SIZE, "%s\n", lampstat);
}

static const struct kernel_param_ops lampstat_param_ops = {
	.set = lampstat_set,
	.get = lampstat_get,
};
module_param_cb(lampstat, &lampstat_param_ops, NULL, 0644);
MODULE_PARM_DESC(lampstat, "Text of /proc/lampstat, '|' separating lines");

static int open_errno;
module_param(open_errno, int, 0644);
static int write_errno;
module_param(write_errno, int, 0644);
static bool write_zero;
module_param(write_zero, bool, 0644);
static int read_errno;
module_param(read_errno, int, 0644);
static bool read_empty;
module_param(read_empty, bool, 0644);
static int read_extra;
module_param(read_extra, int, 0644);
static int ioctl_errno;
module_param(ioctl_errno, int, 0644);
static int ioctl_result;
module_param(ioctl_result, int, 0644);

static char reply[HORN_FIXED_MAX];
module_param_string(reply, reply, sizeof(reply), 0644);
MODULE_PARM_DESC(reply, "Fixed status reply instead of the setting");
static int reply_len;
module_param(reply_len, int, 0644);
static int reply_nul = -1;
module_param(reply_nul, int, 0644);

/* The last accepted setting. */
enum horn_kind { HORN_IDLE, HORN_TEXT, HORN_WORD };
static struct {
	enum horn_kind kind;
	bool has_period, has_count;
	int period, count;
	size_t pattern_len;
	char pattern[HORN_CMD_MAX];
	int word;
} setting;

/* What reached the driver since the last reset. */
static struct {
	unsigned int opens, writes, reads, ioctls;
	unsigned int open_mode;
	size_t write_len;
	bool write_fault;
	char write_data[HORN_CMD_MAX];
	size_t read_size;
	unsigned int request;
	enum { WORD_NONE, WORD_SEEN, WORD_FAULT } word_state;
	int word;
} rec;

static char reply_buf[HORN_FIXED_MAX];

/* ---- text command grammar ---- */

struct horn_parsed {
	bool has_period, has_count;
	int period, count;
	const char *pattern;
	size_t pattern_len;
};

static int take_keyword(const char **p, const char *end, const char *kw)
{
	size_t n = strlen(kw);

	if ((size_t)(end - *p) < n || memcmp(*p, kw, n) != 0)
		return 0;
	*p += n;
	return 1;
}

static int take_number(const char **p, const char *end, int *out)
{
	const char *s = *p;
	const char *digits;
	char tmp[16];
	size_t n;

	if (s < end && *s == '-')
		s++;
	digits = s;
	while (s < end && isdigit(*s))
		s++;
	if (s == digits)
		return -EINVAL;
	n = s - *p;
	if (n >= sizeof(tmp))
		return -EINVAL;
	memcpy(tmp, *p, n);
	tmp[n] = '\0';
	if (kstrtoint(tmp, 10, out))
		return -EINVAL;
	*p = s;
	return 0;
}

/*
 * Parses a whole command; the caller updates the setting only when all of it
 * is valid. A separating space must be followed by another item.
 */
static int parse_command(const char *buf, size_t len, struct horn_parsed *out)
{
	const char *p = buf, *end = buf + len;
	bool need_item = true;

	memset(out, 0, sizeof(*out));
	if (take_keyword(&p, end, "period ")) {
		if (take_number(&p, end, &out->period))
			return -EINVAL;
		out->has_period = true;
		need_item = p < end;
		if (need_item && !take_keyword(&p, end, " "))
			return -EINVAL;
	}
	if (take_keyword(&p, end, "count ")) {
		if (take_number(&p, end, &out->count))
			return -EINVAL;
		out->has_count = true;
		need_item = p < end;
		if (need_item && !take_keyword(&p, end, " "))
			return -EINVAL;
	}
	if (take_keyword(&p, end, "pattern ")) {
		if (p == end)
			return -EINVAL;
		out->pattern = p;
		out->pattern_len = end - p;
		p = end;
		need_item = false;
	}
	return p == end && !need_item ? 0 : -EINVAL;
}

static void apply_command(const struct horn_parsed *c)
{
	setting.kind = HORN_TEXT;
	setting.has_period = c->has_period;
	setting.period = c->period;
	setting.has_count = c->has_count;
	setting.count = c->count;
	setting.pattern_len = c->pattern_len;
	if (c->pattern_len)
		memcpy(setting.pattern, c->pattern, c->pattern_len);
}

/* ---- status reply ---- */

static size_t append(size_t at, const char *s, size_t n)
{
	if (at >= HORN_REPLY_MAX)
		return at;
	n = min(n, (size_t)HORN_REPLY_MAX - at);
	memcpy(reply_buf + at, s, n);
	return at + n;
}

static size_t build_reply(void)
{
	char item[48];
	size_t len = 0;
	int n;

	if (reply[0] != '\0') {
		size_t src = strlen(reply);
		size_t want = reply_len > 0 ? min((size_t)reply_len, sizeof(reply_buf)) : src;

		for (len = 0; len < want; len++)
			reply_buf[len] = reply[len % src];
		if (reply_nul >= 0 && (size_t)reply_nul < len)
			reply_buf[reply_nul] = '\0';
		return len;
	}

	switch (setting.kind) {
	case HORN_IDLE:
		len = append(0, "status: idle\n", 13);
		break;
	case HORN_WORD:
		n = scnprintf(item, sizeof(item), "status: off %d on %d count %d\n",
			      (setting.word >> 16) & 0xff, (setting.word >> 8) & 0xff,
			      setting.word & 0xff);
		len = append(0, item, n);
		break;
	case HORN_TEXT:
		len = append(0, "status:", 7);
		if (setting.has_period) {
			n = scnprintf(item, sizeof(item), " period %d", setting.period);
			len = append(len, item, n);
		}
		if (setting.has_count) {
			n = scnprintf(item, sizeof(item), " count %d", setting.count);
			len = append(len, item, n);
		}
		if (setting.pattern_len) {
			len = append(len, " pattern ", 9);
			len = append(len, setting.pattern, setting.pattern_len);
		}
		len = append(len, "\n", 1);
		break;
	}
	if (reply_nul >= 0 && (size_t)reply_nul < len)
		reply_buf[reply_nul] = '\0';
	return len;
}

/* ---- /dev/hornio ---- */

static int horn_open(struct inode *inode, struct file *file)
{
	mutex_lock(&horn_lock);
	rec.opens++;
	rec.open_mode = file->f_flags & O_ACCMODE;
	mutex_unlock(&horn_lock);
	return open_errno > 0 ? -open_errno : 0;
}

static ssize_t horn_write(struct file *file, const char __user *buf, size_t count,
			  loff_t *ppos)
{
	size_t n = min(count, (size_t)HORN_CMD_MAX);
	struct horn_parsed cmd;
	ssize_t ret;

	mutex_lock(&horn_lock);
	rec.writes++;
	rec.write_len = count;
	rec.write_fault = copy_from_user(rec.write_data, buf, n) != 0;
	if (rec.write_fault)
		ret = -EFAULT;
	else if (write_errno > 0)
		ret = -write_errno;
	else if (write_zero)
		ret = 0;
	else if (count > HORN_CMD_MAX)
		ret = -EINVAL;
	else if (parse_command(rec.write_data, count, &cmd))
		ret = -EINVAL;
	else {
		apply_command(&cmd);
		ret = count;
	}
	mutex_unlock(&horn_lock);
	return ret;
}

static ssize_t horn_read(struct file *file, char __user *buf, size_t count, loff_t *ppos)
{
	ssize_t ret;

	mutex_lock(&horn_lock);
	rec.reads++;
	rec.read_size = count;
	if (read_errno > 0)
		ret = -read_errno;
	else if (read_empty)
		ret = 0;
	else
		ret = simple_read_from_buffer(buf, count, ppos, reply_buf, build_reply());
	/* Nothing is copied beyond count; only the reported size is wrong. */
	if (ret >= 0 && read_extra > 0)
		ret = count + min_t(size_t, read_extra, LONG_MAX - count);
	mutex_unlock(&horn_lock);
	return ret;
}

static long horn_ioctl(struct file *file, unsigned int request, unsigned long arg)
{
	int __user *uword = (int __user *)arg;
	long ret;
	int word;

	mutex_lock(&horn_lock);
	rec.ioctls++;
	rec.request = request;
	rec.word_state = WORD_NONE;
	if (request != HORN_SET && request != HORN_GET) {
		ret = -ENOTTY;
		goto out;
	}
	if (get_user(word, uword)) {
		rec.word_state = WORD_FAULT;
		ret = -EFAULT;
		goto out;
	}
	rec.word_state = WORD_SEEN;
	rec.word = word;
	if (ioctl_errno > 0) {
		ret = -ioctl_errno;
	} else if (ioctl_result > 0) {
		ret = ioctl_result;
	} else if (request == HORN_SET) {
		setting.kind = HORN_WORD;
		setting.word = word;
		ret = 0;
	} else {
		ret = put_user(setting.kind == HORN_WORD ? setting.word : 0, uword) ? -EFAULT : 0;
	}
out:
	mutex_unlock(&horn_lock);
	return ret;
}

static const struct file_operations horn_fops = {
	.owner = THIS_MODULE,
	.open = horn_open,
	.read = horn_read,
	.write = horn_write,
	.unlocked_ioctl = horn_ioctl,
	.compat_ioctl = compat_ptr_ioctl,
#if LINUX_VERSION_CODE < KERNEL_VERSION(6, 12, 0)
	/* Gone in 6.12, where a missing .llseek already fails lseek with ESPIPE. */
	.llseek = no_llseek,
#endif
};

static struct miscdevice horn_misc = {
	.minor = MISC_DYNAMIC_MINOR,
	.name = "hornio",
	.fops = &horn_fops,
};

/* ---- /proc/lampstat ---- */

static int lampstat_show(struct seq_file *m, void *v)
{
	const char *s;

	mutex_lock(&horn_lock);
	for (s = lampstat; *s; s++)
		seq_putc(m, *s == '|' ? '\n' : *s);
	if (lampstat[0])
		seq_putc(m, '\n');
	mutex_unlock(&horn_lock);
	return 0;
}

static int lampstat_open(struct inode *inode, struct file *file)
{
	return single_open_size(file, lampstat_show, NULL, LAMPSTAT_MAX + 16);
}

static const struct proc_ops lampstat_ops = {
	.proc_open = lampstat_open,
	.proc_read = seq_read,
	.proc_lseek = seq_lseek,
	.proc_release = single_release,
};

static bool ready;
static bool proc_on = true;
static struct proc_dir_entry *lampstat_entry;

/* Creates or removes /proc/lampstat; called with horn_lock not held. */
static int lampstat_apply(bool on)
{
	if (on && !lampstat_entry) {
		lampstat_entry = proc_create("lampstat", 0444, NULL, &lampstat_ops);
		if (!lampstat_entry)
			return -ENOMEM;
	} else if (!on && lampstat_entry) {
		proc_remove(lampstat_entry);
		lampstat_entry = NULL;
	}
	return 0;
}

static DEFINE_MUTEX(proc_lock);

static int proc_param_set(const char *val, const struct kernel_param *kp)
{
	bool on;
	int ret = kstrtobool(val, &on);

	if (ret)
		return ret;
	mutex_lock(&proc_lock);
	proc_on = on;
	if (ready)
		ret = lampstat_apply(on);
	mutex_unlock(&proc_lock);
	return ret;
}

static int proc_param_get(char *buffer, const struct kernel_param *kp)
{
	return scnprintf(buffer, PAGE_SIZE, "%d\n", proc_on);
}

static const struct kernel_param_ops proc_param_ops = {
	.set = proc_param_set,
	.get = proc_param_get,
};
module_param_cb(proc, &proc_param_ops, NULL, 0644);
MODULE_PARM_DESC(proc, "Whether /proc/lampstat exists");

/* ---- record and reset ---- */

static const char *mode_name(unsigned int mode)
{
	switch (mode) {
	case O_RDONLY:
		return "rdonly";
	case O_WRONLY:
		return "wronly";
	case O_RDWR:
		return "rdwr";
	default:
		return "badmode";
	}
}

static int seen_get(char *buffer, const struct kernel_param *kp)
{
	size_t at = 0;

	mutex_lock(&horn_lock);
	at += scnprintf(buffer + at, PAGE_SIZE - at, "open %u", rec.opens);
	if (rec.opens)
		at += scnprintf(buffer + at, PAGE_SIZE - at, " %s", mode_name(rec.open_mode));
	at += scnprintf(buffer + at, PAGE_SIZE - at, "; write %u", rec.writes);
	if (rec.writes && rec.write_fault)
		at += scnprintf(buffer + at, PAGE_SIZE - at, " %zu fault", rec.write_len);
	else if (rec.writes) {
		size_t n = min(rec.write_len, (size_t)HORN_CMD_MAX);

		/* The bytes as written, NULs included; they fit a page. */
		at += scnprintf(buffer + at, PAGE_SIZE - at, " %zu \"", rec.write_len);
		memcpy(buffer + at, rec.write_data, n);
		at += n;
		at += scnprintf(buffer + at, PAGE_SIZE - at, "\"");
	}
	at += scnprintf(buffer + at, PAGE_SIZE - at, "; read %u", rec.reads);
	if (rec.reads)
		at += scnprintf(buffer + at, PAGE_SIZE - at, " %zu", rec.read_size);
	at += scnprintf(buffer + at, PAGE_SIZE - at, "; ioctl %u", rec.ioctls);
	if (rec.ioctls) {
		at += scnprintf(buffer + at, PAGE_SIZE - at, " 0x%08x", rec.request);
		if (rec.word_state == WORD_SEEN)
			at += scnprintf(buffer + at, PAGE_SIZE - at, " 0x%08x", (unsigned int)rec.word);
		else if (rec.word_state == WORD_FAULT)
			at += scnprintf(buffer + at, PAGE_SIZE - at, " fault");
	}
	at += scnprintf(buffer + at, PAGE_SIZE - at, "\n");
	mutex_unlock(&horn_lock);
	return at;
}

static const struct kernel_param_ops seen_param_ops = {
	.get = seen_get,
};
module_param_cb(seen, &seen_param_ops, NULL, 0444);
MODULE_PARM_DESC(seen, "What reached /dev/hornio since the last reset");

static int reset_set(const char *val, const struct kernel_param *kp)
{
	bool all;

	if (sysfs_streq(val, "all"))
		all = true;
	else if (sysfs_streq(val, "record"))
		all = false;
	else
		return -EINVAL;

	mutex_lock(&horn_lock);
	memset(&rec, 0, sizeof(rec));
	if (all) {
		memset(&setting, 0, sizeof(setting));
		open_errno = write_errno = read_errno = read_extra = ioctl_errno = ioctl_result = 0;
		write_zero = read_empty = false;
		reply[0] = '\0';
		reply_len = 0;
		reply_nul = -1;
		strscpy(lampstat, lampstat_default, sizeof(lampstat));
	}
	mutex_unlock(&horn_lock);
	if (all)
		return proc_param_set("1", NULL);
	return 0;
}

static const struct kernel_param_ops reset_param_ops = {
	.set = reset_set,
};
module_param_cb(reset, &reset_param_ops, NULL, 0200);
MODULE_PARM_DESC(reset, "\"record\" or \"all\"");

/* ---- module ---- */

static int __init hornsim_init(void)
{
	int ret = misc_register(&horn_misc);

	if (ret)
		return ret;
	mutex_lock(&proc_lock);
	ready = true;
	ret = lampstat_apply(proc_on);
	mutex_unlock(&proc_lock);
	if (ret)
		misc_deregister(&horn_misc);
	return ret;
}

static void __exit hornsim_exit(void)
{
	mutex_lock(&proc_lock);
	lampstat_apply(false);
	ready = false;
	mutex_unlock(&proc_lock);
	misc_deregister(&horn_misc);
}

module_init(hornsim_init);
module_exit(hornsim_exit);

MODULE_DESCRIPTION("Stand-in buzzer and LED drivers for testing hornset");
MODULE_LICENSE("GPL");
