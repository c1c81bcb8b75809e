// The property bag of a Quillon button, from its entries in a window's
// stored layout: numbers, switches and texts as they are, pictures and
// fonts made anew whenever the button reads them.
#pragma once

#include "windows/LayoutFile.h"
#include "windows/QuillonHost.h"

namespace velmora {

// Raises 5 for an entry of a type the layouts do not know.
ComPtr<PropertyBag> BagOf(const LayoutControl& c);

}  // namespace velmora
