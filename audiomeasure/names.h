// Names and texts of the API's statuses and enumeration values.
#pragma once

namespace am {

// The stable name and the sentence of `value` in enumeration `kind`
// (AM_ENUM_*); "unknown" and "unknown value" when there is none.
const char* enum_name(int kind, int value) noexcept;
const char* enum_text(int kind, int value) noexcept;

}  // namespace am
