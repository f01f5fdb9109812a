/*
 * am_mex.h - what the two MEX gateways share: reading their arguments,
 * refusing bad ones with an error identifier and a message, and building
 * their result structs. Each gateway is one C source that includes this
 * header, so that `mex` or `mkoctfile --mex` builds it from that file alone.
 *
 * Error identifiers: audiomeasure:badArgument (a wrong type, shape or
 * count of arguments), audiomeasure:badOption (an unknown option or a value
 * out of range), and for each refusal of the library audiomeasure:<its
 * status name in camel case> (audiomeasure:shortReference, badRate, ...)
 * with the library's text.
 */
#ifndef AM_MEX_H
#define AM_MEX_H

#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "audiomeasure.h"
#include "mex.h"

/* Each gateway uses some of the helpers below. */
#if defined(__GNUC__)
#define AM_MEX_HELPER static __attribute__((unused))
#else
#define AM_MEX_HELPER static
#endif

/* Raises the error `id` with a printf-style message; never returns. */
AM_MEX_HELPER void am_mex_fail(const char* id, const char* format, ...) {
  char message[512];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof message, format, args);
  va_end(args);
  mexErrMsgIdAndTxt(id, "%s", message);
}

/* A refusal of the library: audiomeasure:<camelCase status name>. */
AM_MEX_HELPER void am_mex_check(int status) {
  char id[96] = "audiomeasure:";
  const char* name = am_enum_name(AM_ENUM_STATUS, status);
  size_t at = strlen(id);
  int upper = 0;
  if (status == AM_OK) {
    return;
  }
  for (; *name != '\0' && at + 1 < sizeof id; ++name) {
    if (*name == '_') {
      upper = 1;
    } else {
      id[at++] = upper && *name >= 'a' && *name <= 'z' ? (char)(*name - 'a' + 'A') : *name;
      upper = 0;
    }
  }
  id[at] = '\0';
  am_mex_fail(id, "%s", am_status_text(status));
}

/* A real double vector (or empty), its samples read in place. */
AM_MEX_HELPER const double* am_mex_samples(const char* name, const mxArray* a,
                                    int64_t* length) {
  if (!mxIsDouble(a) || mxIsComplex(a) || mxIsSparse(a) || mxGetNumberOfDimensions(a) != 2 ||
      (mxGetM(a) > 1 && mxGetN(a) > 1)) {
    am_mex_fail("audiomeasure:badArgument", "%s must be a real double vector", name);
  }
  *length = (int64_t)mxGetNumberOfElements(a);
  return mxGetPr(a);
}

/* A real double scalar. */
AM_MEX_HELPER double am_mex_scalar(const char* id, const char* name,
                            const mxArray* a) {
  if (!mxIsDouble(a) || mxIsComplex(a) || mxIsSparse(a) || mxGetNumberOfElements(a) != 1) {
    am_mex_fail(id, "%s must be a real double scalar", name);
  }
  return mxGetPr(a)[0];
}

/* A flag: a logical scalar, or a double 0 or 1. */
AM_MEX_HELPER int32_t am_mex_flag(const char* name, const mxArray* a) {
  if (mxIsLogical(a) && mxGetNumberOfElements(a) == 1) {
    return mxGetLogicals(a)[0] ? 1 : 0;
  }
  if (mxIsDouble(a) && !mxIsComplex(a) && mxGetNumberOfElements(a) == 1 &&
      (mxGetPr(a)[0] == 0.0 || mxGetPr(a)[0] == 1.0)) {
    return mxGetPr(a)[0] == 1.0;
  }
  am_mex_fail("audiomeasure:badOption", "option %s must be true, false, 1 or 0", name);
  return 0;
}

/* The options struct (a 1x1 struct, or [] for none): calls take(field,
 * value) for each field, which refuses the names it does not know. */
AM_MEX_HELPER void am_mex_options(const mxArray* a,
                           void (*take)(const char* field, const mxArray* value, void* into),
                           void* into) {
  int i;
  if (mxIsDouble(a) && mxGetNumberOfElements(a) == 0) {
    return;
  }
  if (!mxIsStruct(a) || mxGetNumberOfElements(a) != 1) {
    am_mex_fail("audiomeasure:badArgument", "options must be a 1x1 struct");
  }
  for (i = 0; i < mxGetNumberOfFields(a); ++i) {
    take(mxGetFieldNameByNumber(a, i), mxGetFieldByNumber(a, 0, i), into);
  }
}

/* Results. */
AM_MEX_HELPER mxArray* am_mex_numbers(const double* x, int n) {
  mxArray* a = mxCreateDoubleMatrix(1, (mwSize)n, mxREAL);
  memcpy(mxGetPr(a), x, (size_t)n * sizeof *x);
  return a;
}

AM_MEX_HELPER mxArray* am_mex_integers(const int64_t* x, int n) {
  mxArray* a = mxCreateDoubleMatrix(1, (mwSize)n, mxREAL);
  int i;
  for (i = 0; i < n; ++i) {
    mxGetPr(a)[i] = (double)x[i];
  }
  return a;
}

/* A mask of steps as 11 logicals, one per step. */
AM_MEX_HELPER mxArray* am_mex_steps(uint32_t mask) {
  mxArray* a = mxCreateLogicalMatrix(1, AM_STEPS);
  int i;
  for (i = 0; i < AM_STEPS; ++i) {
    mxGetLogicals(a)[i] = (mask >> i) & 1u ? 1 : 0;
  }
  return a;
}

AM_MEX_HELPER mxArray* am_mex_flag_out(int32_t flag) {
  return mxCreateLogicalScalar(flag != 0);
}

AM_MEX_HELPER mxArray* am_mex_name(int kind, int value) {
  return mxCreateString(am_enum_name(kind, value));
}

/* The names of the bits set, in bit order, as a 1xN cell array. */
AM_MEX_HELPER mxArray* am_mex_names(int kind, uint32_t mask) {
  mxArray* a;
  int count = 0;
  int bit;
  for (bit = 0; bit < 32; ++bit) {
    count += (mask >> bit) & 1u;
  }
  a = mxCreateCellMatrix(1, (mwSize)count);
  count = 0;
  for (bit = 0; bit < 32; ++bit) {
    if ((mask >> bit) & 1u) {
      mxSetCell(a, (mwIndex)count++, mxCreateString(am_enum_name(kind, bit)));
    }
  }
  return a;
}

/* A 1x1 struct of the given fields in order, filled by the caller. */
AM_MEX_HELPER mxArray* am_mex_struct(const char** fields, int count) {
  return mxCreateStructMatrix(1, 1, count, fields);
}

#endif /* AM_MEX_H */
