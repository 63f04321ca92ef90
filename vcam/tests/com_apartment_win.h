#pragma once

// COM on a thread of a test, a benchmark or the demo: the products' own apartment owner.

#include "tolvek/com_apartment_win.h"

namespace tolvek::vcam::testing {

using ComApartment = tolvek::ComApartment;

} // namespace tolvek::vcam::testing
