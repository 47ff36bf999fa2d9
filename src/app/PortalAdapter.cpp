#include "app/PortalAdapter.h"

namespace kolvex {

PortalFactory portalFactory() {
    return {};
}

}  // namespace kolvex
