/*
 * emx_runtime.h - the array record, its allocation API, the non-finite values
 * and the record sum shared by lumetra and quenbar.
 *
 * Both libraries carry their own copy of everything declared here and export
 * it under the same names. Include it through lumetra.h or quenbar.h.
 *
 * Thread safety: the array functions keep no state; a record is used by one
 * thread at a time. rt_InitInfAndNaN writes the six globals without a lock and
 * runs (through the library's initialize function) before any other call.
 *
 * Floating-point state: the results do not depend on the calling thread's.
 * Every function of either library that computes (the sums, the levels, the
 * transforms and tables, the estimations) sets for the duration of the call
 * SSE rounding to nearest without flush-to-zero or denormals-are-zero, every
 * exception masked, and on Windows the x87 control word to 53-bit precision,
 * rounding to nearest, every exception masked. On return the caller's MXCSR
 * is as it was, status flags included (the flags a call raises are not
 * passed on), and so is the caller's x87 control word.
 */
#ifndef EMX_RUNTIME_H
#define EMX_RUNTIME_H

#include <stddef.h>
#include <stdint.h>

/*
 * AM_API marks what the libraries export. Hosts on Windows import through it
 * (exported variables need __declspec(dllimport)). The libraries export from
 * their export list, never from the headers; code linked to a library's static
 * core (tests, host tools) defines AM_STATIC.
 */
#if defined(AM_STATIC) || (defined(AM_BUILDING_LIBRARY) && defined(_WIN32))
#define AM_API
#elif defined(AM_BUILDING_LIBRARY)
#define AM_API __attribute__((visibility("default")))
#elif defined(_WIN32)
#define AM_API __declspec(dllimport)
#else
#define AM_API
#endif

/* Exported functions never throw; C++ hosts may rely on it. */
#ifdef __cplusplus
#define AM_NOEXCEPT noexcept
#else
#define AM_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * A column-major N-dimensional array of doubles on the C heap.
 * Element count = size[0] * ... * size[numDims-1] (1 when numDims is 0).
 * size is always owned by the record; data is freed only when ownsData is 1.
 * capacity never decreases; storage the API allocates is zero-filled.
 * Layout (64-bit): data at 0, size at 8, capacity at 16, numDims at 20,
 * ownsData at 24, sizeof 32.
 */
typedef struct emxArray_real_T {
  double* data;
  int32_t* size;
  int32_t capacity;
  int32_t numDims;
  uint8_t ownsData;
} emxArray_real_T;

/*
 * Record creation. Extents must be non-negative with a product that fits in
 * int32_t. A failed allocation, a negative extent, a negative numDims, a null
 * extent array (numDims > 0) or an overflowing element count yields NULL and
 * leaks nothing.
 */

/* rows x cols zeros; size {rows, cols}, capacity rows*cols, ownsData 1. */
AM_API emxArray_real_T* emxCreate_real_T(int32_t rows, int32_t cols) AM_NOEXCEPT;

/* numDims-dimensional zeros, extents copied from size[0..numDims-1];
 * numDims 0 gives one zero element. */
AM_API emxArray_real_T* emxCreateND_real_T(int32_t numDims, const int32_t* size) AM_NOEXCEPT;

/* rows x cols record over the caller's storage (not copied, not cleared,
 * never freed by the API); ownsData 0, capacity rows*cols. data may be NULL:
 * the functions that read records then take a non-empty one as unreadable
 * and give NaN. */
AM_API emxArray_real_T* emxCreateWrapper_real_T(double* data, int32_t rows, int32_t cols) AM_NOEXCEPT;

/* numDims-dimensional record over the caller's storage; extents copied. */
AM_API emxArray_real_T* emxCreateWrapperND_real_T(double* data, int32_t numDims,
                                                  const int32_t* size) AM_NOEXCEPT;

/* Releases a record made by any function here (NULL is ignored). The caller's
 * storage under a wrapper is left alone. */
AM_API void emxDestroyArray_real_T(emxArray_real_T* emxArray) AM_NOEXCEPT;

/* *pEmx = new empty record: data NULL, numDims extents all 0, capacity 0,
 * ownsData 1. On allocation failure or numDims < 0, *pEmx = NULL; a NULL
 * pEmx is ignored. */
AM_API void emxInitArray_real_T(emxArray_real_T** pEmx, int32_t numDims) AM_NOEXCEPT;
AM_API void emxInit_real_T(emxArray_real_T** pEmx, int32_t numDims) AM_NOEXCEPT;

/*
 * Grows the storage to hold the element count of the current size, keeping
 * the first oldNumel elements (none when oldNumel < 0). Capacity starts at 16
 * and doubles; past 2^30 - 1 it jumps to 2147483647. New storage is zeroed and
 * owned (ownsData 1). Nothing changes when the count fits the capacity, when
 * an extent is negative or the count overflows int32_t, or when allocation
 * fails: the record is left exactly as it was. oldNumel is clamped to the old
 * capacity, so a wrong oldNumel never reads past the old storage. A NULL
 * record is ignored; with numDims 0 the element count is 1.
 */
AM_API void emxEnsureCapacity_real_T(emxArray_real_T* emxArray, int32_t oldNumel) AM_NOEXCEPT;

/* Releases *pEmx as emxDestroyArray_real_T does and sets *pEmx to NULL.
 * A NULL pEmx or *pEmx is left alone. */
AM_API void emxFree_real_T(emxArray_real_T** pEmx) AM_NOEXCEPT;

/* Non-finite values. They read 0 until rt_InitInfAndNaN has run. NaNs are the
 * negative quiet NaNs: rtNaN bits FFF8000000000000, rtNaNF bits FFC00000. */
AM_API extern double rtInf;
AM_API extern double rtMinusInf;
AM_API extern double rtNaN;
AM_API extern float rtInfF;
AM_API extern float rtMinusInfF;
AM_API extern float rtNaNF;

/* Sets the six globals. realSize (the byte size of a double) is not used. */
AM_API void rt_InitInfAndNaN(size_t realSize) AM_NOEXCEPT;

/* Constant non-finite values, exact bit patterns. */
AM_API double rtGetInf(void) AM_NOEXCEPT;
AM_API float rtGetInfF(void) AM_NOEXCEPT;
AM_API double rtGetMinusInf(void) AM_NOEXCEPT;
AM_API float rtGetMinusInfF(void) AM_NOEXCEPT;
AM_API double rtGetNaN(void) AM_NOEXCEPT;
AM_API float rtGetNaNF(void) AM_NOEXCEPT;

/* 1 when value equals rtInf or rtMinusInf (reads the globals: correct once
 * the library is initialized), else 0. */
AM_API uint8_t rtIsInf(double value) AM_NOEXCEPT;
AM_API uint8_t rtIsInfF(float value) AM_NOEXCEPT;

/* 1 when value is a NaN of any sign or payload, else 0. */
AM_API uint8_t rtIsNaN(double value) AM_NOEXCEPT;
AM_API uint8_t rtIsNaNF(float value) AM_NOEXCEPT;

/*
 * Sum of the first size[0] elements of x, added strictly first to last in one
 * double accumulator (the order fixes the bits: (1e16, 1, -1e16) sums to 0).
 * The vector's length is size[0]; the other extents only bound it. Empty
 * gives 0.0. NaN for a record that does not hold size[0] readable values: a
 * NULL record or size, numDims < 1, a negative or overflowing extent, fewer
 * elements in all than size[0] (another extent is 0, e.g. {5, 0}), or a NULL
 * data with size[0] > 0.
 */
AM_API double combineVectorElements(const emxArray_real_T* x) AM_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* EMX_RUNTIME_H */
