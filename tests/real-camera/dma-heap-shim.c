/*
 * An LD_PRELOAD library that stands in for the dma-heap devices under
 * /dev/dma_heap/ with memfds, because the kernel of our test machines has no
 * dma-heap (nor udmabuf) for the camera stack to allocate frame buffers from.
 */

#undef _FORTIFY_SOURCE
#define _GNU_SOURCE

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <linux/dma-buf.h>
#include <linux/dma-heap.h>

#define HEAP_DIR "/dev/dma_heap/"
#define HEAP_NAME "dma-heap-shim:heap"
#define BUFFER_NAME "dma-heap-shim:buffer"

int __open_2(const char *path, int flags);
int __open64_2(const char *path, int flags);
int __openat_2(int dirfd, const char *path, int flags);
int __openat64_2(int dirfd, const char *path, int flags);

/* Looks up the C library's own function of that name once, caching it in *slot. */
static void *next_symbol(const char *name, void **slot)
{
	void *sym = __atomic_load_n(slot, __ATOMIC_ACQUIRE);

	if (!sym) {
		sym = dlsym(RTLD_NEXT, name);
		__atomic_store_n(slot, sym, __ATOMIC_RELEASE);
	}
	return sym;
}

#define NEXT(name, type) ({ static void *slot_; (type)next_symbol(#name, &slot_); })

/*
 * Tells whether fd is one of our memfds whose name starts with prefix, asking
 * /proc by name so that dup()ed and reused descriptor numbers come out right.
 */
static int is_ours(int fd, const char *prefix)
{
	char link[64], target[128];
	const char *name;
	ssize_t n;

	snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
	n = readlink(link, target, sizeof(target) - 1);
	if (n < 0)
		return 0;
	target[n] = '\0';
	/* proot, which runs the arm64 build's check, shows it as /host-rootfs/memfd:NAME. */
	name = strstr(target, "/memfd:");
	return name && strncmp(name + 7, prefix, strlen(prefix)) == 0;
}

/* Tells whether path names a dma-heap device. */
static int is_heap_path(const char *path)
{
	return path && strncmp(path, HEAP_DIR, strlen(HEAP_DIR)) == 0;
}

/* Opens a placeholder memfd that stands for the heap device. */
static int open_heap(int flags)
{
	return memfd_create(HEAP_NAME, (flags & O_CLOEXEC) ? MFD_CLOEXEC : 0);
}

/* Reads the mode argument that open() takes only when it may create a file. */
#define MODE_ARG(flags, mode) do { \
		if ((flags) & (O_CREAT | O_TMPFILE)) { \
			va_list ap_; \
			va_start(ap_, flags); \
			mode = va_arg(ap_, mode_t); \
			va_end(ap_); \
		} \
	} while (0)

/* open(): a heap path gets a placeholder, anything else goes to the C library. */
int open(const char *path, int flags, ...)
{
	mode_t mode = 0;

	MODE_ARG(flags, mode);
	if (is_heap_path(path))
		return open_heap(flags);
	return NEXT(open, int (*)(const char *, int, ...))(path, flags, mode);
}

/* open64(): the same as open(). */
int open64(const char *path, int flags, ...)
{
	mode_t mode = 0;

	MODE_ARG(flags, mode);
	if (is_heap_path(path))
		return open_heap(flags);
	return NEXT(open64, int (*)(const char *, int, ...))(path, flags, mode);
}

/* openat(): the same as open(); heap paths are absolute, so dirfd does not matter. */
int openat(int dirfd, const char *path, int flags, ...)
{
	mode_t mode = 0;

	MODE_ARG(flags, mode);
	if (is_heap_path(path))
		return open_heap(flags);
	return NEXT(openat, int (*)(int, const char *, int, ...))(dirfd, path, flags, mode);
}

/* openat64(): the same as openat(). */
int openat64(int dirfd, const char *path, int flags, ...)
{
	mode_t mode = 0;

	MODE_ARG(flags, mode);
	if (is_heap_path(path))
		return open_heap(flags);
	return NEXT(openat64, int (*)(int, const char *, int, ...))(dirfd, path, flags, mode);
}

/* __open_2(): the entry point that _FORTIFY_SOURCE builds call for open(). */
int __open_2(const char *path, int flags)
{
	if (is_heap_path(path))
		return open_heap(flags);
	return NEXT(__open_2, int (*)(const char *, int))(path, flags);
}

/* __open64_2(): the fortified open64(). */
int __open64_2(const char *path, int flags)
{
	if (is_heap_path(path))
		return open_heap(flags);
	return NEXT(__open64_2, int (*)(const char *, int))(path, flags);
}

/* __openat_2(): the fortified openat(). */
int __openat_2(int dirfd, const char *path, int flags)
{
	if (is_heap_path(path))
		return open_heap(flags);
	return NEXT(__openat_2, int (*)(int, const char *, int))(dirfd, path, flags);
}

/* __openat64_2(): the fortified openat64(). */
int __openat64_2(int dirfd, const char *path, int flags)
{
	if (is_heap_path(path))
		return open_heap(flags);
	return NEXT(__openat64_2, int (*)(int, const char *, int))(dirfd, path, flags);
}

/* Allocates a buffer as the heap would: a memfd of the asked length in whole pages. */
static int heap_alloc(struct dma_heap_allocation_data *data)
{
	size_t page = (size_t)sysconf(_SC_PAGESIZE);
	size_t len = (data->len + page - 1) & ~(page - 1);
	int fd;

	if ((data->fd_flags & ~DMA_HEAP_VALID_FD_FLAGS) ||
	    (data->heap_flags & ~DMA_HEAP_VALID_HEAP_FLAGS) || len == 0) {
		errno = EINVAL;
		return -1;
	}

	fd = memfd_create(BUFFER_NAME, (data->fd_flags & O_CLOEXEC) ? MFD_CLOEXEC : 0);
	if (fd < 0)
		return -1;
	if (ftruncate(fd, (off_t)len) < 0) {
		int err = errno;

		close(fd);
		errno = err;
		return -1;
	}
	data->fd = (__u32)fd;
	return 0;
}

/*
 * ioctl(): allocating from our heap and naming or syncing our buffers are
 * answered here, everything else goes to the C library.
 */
int ioctl(int fd, unsigned long request, ...)
{
	va_list ap;
	void *arg;

	va_start(ap, request);
	arg = va_arg(ap, void *);
	va_end(ap);

	switch (request) {
	case DMA_HEAP_IOCTL_ALLOC:
		if (is_ours(fd, HEAP_NAME))
			return heap_alloc(arg);
		break;
	case DMA_BUF_SET_NAME_A:
	case DMA_BUF_SET_NAME_B:
	case DMA_BUF_IOCTL_SYNC:
		if (is_ours(fd, BUFFER_NAME))
			return 0;
		break;
	}
	return NEXT(ioctl, int (*)(int, unsigned long, ...))(fd, request, arg);
}
