// SPDX-License-Identifier: GPL-3.0-or-later
// No Qt here: GTK's headers and Qt's keywords do not mix.
#include "FileChooserProbe.h"

#include <algorithm>

#include <gtk/gtk.h>

namespace kolvex::testing {

namespace {

void findTreeView(GtkWidget* widget, gpointer found) {
    auto** view = static_cast<GtkTreeView**>(found);
    if (*view) return;
    if (GTK_IS_TREE_VIEW(widget) && gtk_widget_get_mapped(widget)) {
        *view = GTK_TREE_VIEW(widget);
        return;
    }
    if (GTK_IS_CONTAINER(widget)) gtk_container_forall(GTK_CONTAINER(widget), &findTreeView, found);
}

}  // namespace

long chooserListedRows() {
    long rows = -1;
    GList* windows = gtk_window_list_toplevels();
    for (GList* w = windows; w; w = w->next) {
        if (!GTK_IS_FILE_CHOOSER_DIALOG(w->data)) continue;
        GtkTreeView* view = nullptr;
        findTreeView(GTK_WIDGET(w->data), &view);
        // The first mapped list of the dialog is its places sidebar's or its files'; the files'
        // is the one with the most rows.
        if (view && gtk_tree_view_get_model(view))
            rows = std::max(rows, static_cast<long>(gtk_tree_model_iter_n_children(gtk_tree_view_get_model(view), nullptr)));
    }
    g_list_free(windows);
    return rows;
}

}  // namespace kolvex::testing
