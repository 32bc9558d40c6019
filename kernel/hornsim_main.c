// SPDX-License-Identifier: GPL-2.0
/*
 * hornsim: stand-in buzzer and LED drivers for testing hornset against a real
 * kernel, never to be installed on a board: /dev/hornio is the driver model
 * behind user copies, /proc/lampstat the parameter "lampstat" (kernel/README.md).
 */
#include <linux/fs.h>
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
#define LAMPSTAT_DEFAULT "hornsim lamp driver|model: QTR-PN rev2"

/* Guards the driver's state and the texts it serves. The parameters are set
 * under the module's parameter lock, which also guards /proc/lampstat's
 * creation and removal (that waits for a reader holding horn_lock). */
static DEFINE_MUTEX(horn_lock);

static char lampstat[4000] = LAMPSTAT_DEFAULT;
static struct kparam_string lampstat_string = { sizeof(lampstat), lampstat };

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

static const struct kernel_param_ops lampstat_param_ops = {
	.set = lampstat_set,
	.get = param_get_string,
};
module_param_cb(lampstat, &lampstat_param_ops, &lampstat_string, 0644);

/* The faults and the fixed reply; "reset all" clears them. */
static struct {
	int open_errno, write_errno, read_errno, read_extra, ioctl_errno, ioctl_result;
	bool write_zero, read_empty;
	char reply[HORN_FIXED_MAX];
	int reply_nul;
} params = { .reply_nul = -1 };
module_param_named(open_errno, params.open_errno, int, 0644);
module_param_named(write_errno, params.write_errno, int, 0644);
module_param_named(write_zero, params.write_zero, bool, 0644);
module_param_named(read_errno, params.read_errno, int, 0644);
module_param_named(read_empty, params.read_empty, bool, 0644);
module_param_named(read_extra, params.read_extra, int, 0644);
module_param_named(ioctl_errno, params.ioctl_errno, int, 0644);
module_param_named(ioctl_result, params.ioctl_result, int, 0644);
module_param_string(reply, params.reply, sizeof(params.reply), 0644);
module_param_named(reply_nul, params.reply_nul, int, 0644);

/* The driver's memory, and the faults of one operation (from the parameters). */
static struct hornio_model model;
static struct hornio_faults faults;

/* What reached the driver since the last reset. */
static struct {
	unsigned int opens, writes, reads, ioctls, open_mode, request;
	size_t write_len, read_size;
	bool write_fault;
	char write_data[HORNIO_STANDIN_COMMAND_MAX];
	enum { WORD_NONE, WORD_SEEN, WORD_FAULT } word_state;
	int word;
} rec;

/* The fixed reply of the parameters, else the model's status; reply_nul applied. */
static size_t build_reply(char *reply)
{
	size_t len = strscpy(reply, params.reply, HORN_FIXED_MAX);

	if (!len)
		len = hornio_model_status(&model, reply, HORNIO_TEXT_SIZE);
	if (params.reply_nul >= 0 && (size_t)params.reply_nul < len)
		reply[params.reply_nul] = '\0';
	return len;
}

/* A fault parameter as the model's fault: an errno, else a result when set. */
static struct hornio_fault fault_of(int error, bool has_result, long result)
{
	if (error > 0)
		return (struct hornio_fault){ HORNIO_FAIL, error };
	return (struct hornio_fault){ has_result ? HORNIO_RETURN : HORNIO_NO_FAULT, result };
}

static int horn_open(struct inode *inode, struct file *file)
{
	mutex_lock(&horn_lock);
	rec.opens++;
	rec.open_mode = file->f_flags & O_ACCMODE;
	faults.open = fault_of(params.open_errno, false, 0);
	mutex_unlock(&horn_lock);
	return hornio_model_open(&faults);
}

static ssize_t horn_write(struct file *file, const char __user *buf, size_t count,
			  loff_t *ppos)
{
	ssize_t ret;

	mutex_lock(&horn_lock);
	rec.writes++;
	rec.write_len = count;
	rec.write_fault = copy_from_user(rec.write_data, buf,
					 min(count, sizeof(rec.write_data))) != 0;
	faults.write = fault_of(params.write_errno, params.write_zero, 0);
	ret = rec.write_fault ? -EFAULT :
		hornio_model_write(&model, &faults, rec.write_data, count);
	mutex_unlock(&horn_lock);
	return ret;
}

static ssize_t horn_read(struct file *file, char __user *buf, size_t count, loff_t *ppos)
{
	static char reply[HORN_FIXED_MAX], out[HORN_FIXED_MAX];
	size_t n = min(count, sizeof(out));
	ssize_t ret;

	mutex_lock(&horn_lock);
	rec.reads++;
	rec.read_size = count;
	/* read_extra: the reply as usual, but more bytes reported than were asked for. */
	faults.read = fault_of(params.read_errno, params.read_empty || params.read_extra > 0,
			       params.read_empty ? 0 :
			       count + min_t(size_t, params.read_extra, LONG_MAX - count));
	ret = hornio_model_read(&faults, reply, build_reply(reply), out, n);
	if (ret > 0 && copy_to_user(buf, out, min_t(size_t, ret, n)))
		ret = -EFAULT;
	mutex_unlock(&horn_lock);
	return ret;
}

static long horn_ioctl(struct file *file, unsigned int request, unsigned long arg)
{
	int __user *uword = (int __user *)arg;
	long ret;
	int word = 0;

	mutex_lock(&horn_lock);
	rec.ioctls++;
	rec.request = request;
	rec.word_state = !hornio_request_has_word(request) ? WORD_NONE :
			 get_user(word, uword) ? WORD_FAULT : WORD_SEEN;
	rec.word = word;
	faults.request = fault_of(params.ioctl_errno, params.ioctl_result > 0, params.ioctl_result);
	ret = hornio_model_request(&model, &faults, request,
				   rec.word_state == WORD_SEEN ? &word : NULL);
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

/* Whether the module is between its init and exit, and the proc file's state. */
static bool ready;
static int proc_on = 1;
static struct proc_dir_entry *lampstat_entry;

/* Creates or removes /proc/lampstat; called with the parameter lock held. */
static int lampstat_apply(bool on)
{
	if (on && !lampstat_entry) {
		lampstat_entry = proc_create_single("lampstat", 0444, NULL, lampstat_show);
	} else if (!on) {
		proc_remove(lampstat_entry);
		lampstat_entry = NULL;
	}
	return on && !lampstat_entry ? -ENOMEM : 0;
}

static int proc_param_set(const char *val, const struct kernel_param *kp)
{
	bool on;
	int ret = kstrtobool(val, &on);

	if (!ret)
		proc_on = on;
	return ret || !ready ? ret : lampstat_apply(on);
}

static const struct kernel_param_ops proc_param_ops = {
	.set = proc_param_set,
	.get = param_get_int,
};
module_param_cb(proc, &proc_param_ops, &proc_on, 0644);

static int seen_get(char *buffer, const struct kernel_param *kp)
{
	static const char *const modes[] = { "rdonly", "wronly", "rdwr", "badmode" };
	size_t at;

	mutex_lock(&horn_lock);
	at = scnprintf(buffer, PAGE_SIZE, "open %u", rec.opens);
	if (rec.opens)
		at += scnprintf(buffer + at, PAGE_SIZE - at, " %s", modes[rec.open_mode]);
	at += scnprintf(buffer + at, PAGE_SIZE - at, "; write %u", rec.writes);
	if (rec.writes)
		at += scnprintf(buffer + at, PAGE_SIZE - at, " %zu %s", rec.write_len,
				rec.write_fault ? "fault" : "\"");
	if (rec.writes && !rec.write_fault) {
		/* The bytes as written, NULs included; they fit a page. */
		memcpy(buffer + at, rec.write_data, sizeof(rec.write_data));
		at += min(rec.write_len, sizeof(rec.write_data));
		buffer[at++] = '"';
	}
	at += scnprintf(buffer + at, PAGE_SIZE - at, "; read %u", rec.reads);
	if (rec.reads)
		at += scnprintf(buffer + at, PAGE_SIZE - at, " %zu", rec.read_size);
	at += scnprintf(buffer + at, PAGE_SIZE - at, "; ioctl %u", rec.ioctls);
	if (rec.ioctls)
		at += scnprintf(buffer + at, PAGE_SIZE - at, " 0x%08x", rec.request);
	if (rec.word_state == WORD_SEEN)
		at += scnprintf(buffer + at, PAGE_SIZE - at, " 0x%08x", (unsigned int)rec.word);
	else if (rec.word_state == WORD_FAULT)
		at += scnprintf(buffer + at, PAGE_SIZE - at, " fault");
	at += scnprintf(buffer + at, PAGE_SIZE - at, "\n");
	mutex_unlock(&horn_lock);
	return at;
}

static const struct kernel_param_ops seen_param_ops = { .get = seen_get };
module_param_cb(seen, &seen_param_ops, NULL, 0444);

static int reset_set(const char *val, const struct kernel_param *kp)
{
	bool all = sysfs_streq(val, "all");

	if (!all && !sysfs_streq(val, "record"))
		return -EINVAL;
	mutex_lock(&horn_lock);
	memset(&rec, 0, sizeof(rec));
	if (all) {
		memset(&model, 0, sizeof(model));
		memset(&params, 0, sizeof(params));
		params.reply_nul = -1;
		strscpy(lampstat, LAMPSTAT_DEFAULT, sizeof(lampstat));
	}
	mutex_unlock(&horn_lock);
	return all ? proc_param_set("1", kp) : 0;
}

static const struct kernel_param_ops reset_param_ops = { .set = reset_set };
module_param_cb(reset, &reset_param_ops, NULL, 0200);

static int __init hornsim_init(void)
{
	int ret = misc_register(&horn_misc);

	if (ret)
		return ret;
	kernel_param_lock(THIS_MODULE);
	ready = true;
	ret = lampstat_apply(proc_on);
	kernel_param_unlock(THIS_MODULE);
	if (ret)
		misc_deregister(&horn_misc);
	return ret;
}

static void __exit hornsim_exit(void)
{
	kernel_param_lock(THIS_MODULE);
	lampstat_apply(false);
	ready = false;
	kernel_param_unlock(THIS_MODULE);
	misc_deregister(&horn_misc);
}

module_init(hornsim_init);
module_exit(hornsim_exit);

MODULE_DESCRIPTION("Stand-in buzzer and LED drivers for testing hornset");
MODULE_LICENSE("GPL");
