#include "SheetTestApp.h"

namespace kolvex::testing {

QApplication& sheetApplication() {
    static int argc = 1;
    static char name[] = "test-ui-sheets";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return existing;
        return new QApplication(argc, argv);
    }();
    return *app;
}

}  // namespace kolvex::testing
