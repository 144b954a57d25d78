/* GIFIMPORT_STATIC_ASSERT: a compile-time check of the records' byte layouts
 * that works in C++, in C11 and in older C, for the public headers. */
#ifndef GIFIMPORT_LAYOUT_CHECK_H
#define GIFIMPORT_LAYOUT_CHECK_H

#if defined(__cplusplus)
#define GIFIMPORT_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define GIFIMPORT_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#else /* before C11: an array of negative size where a check fails */
#define GIFIMPORT_STATIC_ASSERT(cond, msg) extern int gifimport_layout_check[(cond) ? 1 : -1]
#endif

#endif
