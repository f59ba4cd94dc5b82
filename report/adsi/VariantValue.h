#pragma once

#include "report/DirectoryValue.h"

#include <windows.h>

#include <oaidl.h>

namespace quindral {

// A VARIANT as the fetch run sees it: text, a list (a one-dimensional SAFEARRAY of any element
// type, its lower bound kept), empty, null, a number, a boolean or an object; any other kind
// (dates, currency kept as numbers aside) as a value with no text form. References are followed.
DirectoryValue ValueFromVariant(const VARIANT& variant);

} // namespace quindral
