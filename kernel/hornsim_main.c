// SPDX-License-Identifier: GPL-2.0
/*
 * hornsim: stand-in buzzer and LED drivers for testing hornset against a real
 * kernel. A test fixture only; never install it on a board.
 *
 * /dev/hornio (misc device) speaks both buzzer interfaces:
 *   - text commands, the status reply read back (at most 2000 bytes) and the
 *     set and get requests (HORNIO_SET_REQUEST, HORNIO_GET_REQUEST), as the
 *     driver model (hornio_model.c, built into this module) has them; bad
 *     addresses fail with EFAULT.
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

#include "hornio_model.h"

#define HORN_FIXED_MAX 4096
#define LAMPSTAT_MAX 4000

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

/* The driver's memory, and the faults of one operation (from the parameters). */
static struct hornio_model model;
static struct hornio_faults faults;

/* What reached the driver since the last reset. */
static struct {
	unsigned int opens, writes, reads, ioctls;
	unsigned int open_mode;
	size_t write_len;
	bool write_fault;
	char write_data[HORNIO_STANDIN_COMMAND_MAX];
	size_t read_size;
	unsigned int request;
	enum { WORD_NONE, WORD_SEEN, WORD_FAULT } word_state;
	int word;
} rec;

static char reply_buf[HORN_FIXED_MAX];

/* ---- status reply ---- */

/* The fixed reply of the parameters, else the model's status; reply_nul applied. */
static size_t build_reply(void)
{
	size_t len;

	if (reply[0] != '\0') {
		size_t src = strlen(reply);
		size_t want = reply_len > 0 ? min((size_t)reply_len, sizeof(reply_buf)) : src;

		for (len = 0; len < want; len++)
			reply_buf[len] = reply[len % src];
	} else {
		len = hornio_model_status(&model, reply_buf, HORNIO_TEXT_SIZE);
	}
	if (reply_nul >= 0 && (size_t)reply_nul < len)
		reply_buf[reply_nul] = '\0';
	return len;
}

/* A fault parameter as the model's fault: an errno, else a result when set. */
static struct hornio_fault fault_of(int error, bool has_result, long result)
{
	struct hornio_fault fault = { HORNIO_NO_FAULT, 0 };

	if (error > 0) {
		fault.kind = HORNIO_FAIL;
		fault.value = error;
	} else if (has_result) {
		fault.kind = HORNIO_RETURN;
		fault.value = result;
	}
	return fault;
}

/* ---- /dev/hornio ---- */

static int horn_open(struct inode *inode, struct file *file)
{
	mutex_lock(&horn_lock);
	rec.opens++;
	rec.open_mode = file->f_flags & O_ACCMODE;
	faults.open = fault_of(open_errno, false, 0);
	mutex_unlock(&horn_lock);
	return hornio_model_open(&faults);
}

static ssize_t horn_write(struct file *file, const char __user *buf, size_t count,
			  loff_t *ppos)
{
	size_t n = min(count, (size_t)HORNIO_STANDIN_COMMAND_MAX);
	ssize_t ret;

	mutex_lock(&horn_lock);
	rec.writes++;
	rec.write_len = count;
	rec.write_fault = copy_from_user(rec.write_data, buf, n) != 0;
	faults.write = fault_of(write_errno, write_zero, 0);
	if (rec.write_fault)
		ret = -EFAULT;
	else
		ret = hornio_model_write(&model, &faults, rec.write_data, count);
	mutex_unlock(&horn_lock);
	return ret;
}

static ssize_t horn_read(struct file *file, char __user *buf, size_t count, loff_t *ppos)
{
	static char out[HORN_FIXED_MAX];
	size_t n = min(count, sizeof(out));
	ssize_t ret;

	mutex_lock(&horn_lock);
	rec.reads++;
	rec.read_size = count;
	/* read_extra: the reply as usual, but more bytes reported than were asked for. */
	faults.read = fault_of(read_errno, read_empty || read_extra > 0,
			       read_empty ? 0 : count + min_t(size_t, read_extra, LONG_MAX - count));
	ret = hornio_model_read(&faults, reply_buf, build_reply(), out, n);
	if (ret > 0 && copy_to_user(buf, out, min_t(size_t, ret, n)))
		ret = -EFAULT;
	mutex_unlock(&horn_lock);
	return ret;
}

static long horn_ioctl(struct file *file, unsigned int request, unsigned long arg)
{
	int __user *uword = (int __user *)arg;
	bool fetched = false;
	long ret;
	int word = 0;

	mutex_lock(&horn_lock);
	rec.ioctls++;
	rec.request = request;
	rec.word_state = WORD_NONE;
	if (hornio_request_has_word(request)) {
		fetched = !get_user(word, uword);
		rec.word_state = fetched ? WORD_SEEN : WORD_FAULT;
		rec.word = word;
	}
	faults.request = fault_of(ioctl_errno, ioctl_result > 0, ioctl_result);
	ret = hornio_model_request(&model, &faults, request, fetched ? &word : NULL);
	if (ret == 0 && request == HORNIO_GET_REQUEST && put_user(word, uword))
		ret = -EFAULT;
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
		size_t n = min(rec.write_len, (size_t)HORNIO_STANDIN_COMMAND_MAX);

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
		memset(&model, 0, sizeof(model));
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
