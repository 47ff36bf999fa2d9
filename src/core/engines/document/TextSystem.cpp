// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/TextSystem.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include "core/format/ConversionError.h"
#include "core/format/ConversionJob.h"

namespace kolvex {

void requireTextSystem() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        throw ConversionError::backendFailure(engine_ids::document.rawValue, -1, "text layout needs a running application");
}

}  // namespace kolvex
