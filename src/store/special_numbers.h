#pragma once

namespace quelvar {

// Writes <programDir>/tele.ini with the built-in special-service numbers
// when it cannot be opened. An existing file, even an empty one, is never
// changed. A file that cannot be made is reported to the operator.
void ensureSpecialNumberFile();

}  // namespace quelvar
