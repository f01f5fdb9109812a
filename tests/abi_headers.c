/* The public headers compiled as C (C99, no extensions), and the array
 * record's layout as a C compiler sees it. */
#include <stddef.h>

#include "quenbar.h"

size_t am_c_layout(int field) {
  switch (field) {
    case 0: return sizeof(emxArray_real_T);
    case 1: return offsetof(emxArray_real_T, data);
    case 2: return offsetof(emxArray_real_T, size);
    case 3: return offsetof(emxArray_real_T, capacity);
    case 4: return offsetof(emxArray_real_T, numDims);
    case 5: return offsetof(emxArray_real_T, ownsData);
    case 6: return sizeof(((emxArray_real_T*)0)->ownsData);
    default: return 0;
  }
}
