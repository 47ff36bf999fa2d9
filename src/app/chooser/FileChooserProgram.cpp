// SPDX-License-Identifier: GPL-3.0-or-later
// kolvex-file-chooser: the desktop's own file chooser (GTK 3's GtkFileChooserNative: the desktop
// portal's chooser where one runs, else GTK's dialog) in a process of its own. GTK lists a folder
// on the loop of the process that shows it, a folder of 50,000 files for seconds; here that loop
// is not the tray's, which goes on answering while the chooser lists.
//
//   kolvex-file-chooser files|file|folder TITLE ACCEPT_LABEL [START_FOLDER_HEX]
//
// TITLE and ACCEPT_LABEL are UTF-8; START_FOLDER_HEX is the folder's bytes in hexadecimal (a
// name need not be UTF-8). When the user answers it prints one line "chosen HEX" per name (its
// bytes in hexadecimal), then "answered N", and exits with 0; cancelling answers 0 names. It
// ends without an answer when its standard input closes: the program that asked withdrew the
// question or has gone.
//
// For the tests and the bench: with KOLVEX_CHOOSER_REPORT_LISTED=COUNT it prints "listed N in
// SECONDS s" on standard error once its dialog lists COUNT entries (and, with
// KOLVEX_CHOOSER_UNTIL_LISTED set, then ends as if cancelled); with KOLVEX_CHOOSER_GO_TO=HEX it
// goes to that folder half a second after it came up, as a user does, and counts there.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtk/gtk.h>

namespace {

using Clock = std::chrono::steady_clock;

std::string hex(const char* bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const char* c = bytes; *c; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        out += kDigits[byte >> 4];
        out += kDigits[byte & 0xF];
    }
    return out;
}

std::string fromHex(const std::string& digits) {
    std::string bytes;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return bytes;
}

struct Run {
    GMainLoop* loop = nullptr;
    GtkFileChooserNative* native = nullptr;
    long reportListed = -1;
    bool untilListed = false;
    std::string goTo;
    Clock::time_point listFrom = Clock::now();
};

void onResponse(GtkNativeDialog* dialog, gint response, gpointer data) {
    auto* run = static_cast<Run*>(data);
    size_t count = 0;
    if (response == GTK_RESPONSE_ACCEPT) {
        GSList* names = gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(dialog));
        for (GSList* n = names; n; n = n->next) {
            auto* bytes = static_cast<char*>(n->data);
            if (bytes) {
                std::printf("chosen %s\n", hex(bytes).c_str());
                ++count;
            }
            g_free(bytes);
        }
        g_slist_free(names);
    }
    std::printf("answered %zu\n", count);
    std::fflush(stdout);
    g_main_loop_quit(run->loop);
}

gboolean onInputClosed(GIOChannel*, GIOCondition, gpointer data) {
    g_main_loop_quit(static_cast<Run*>(data)->loop);
    return G_SOURCE_REMOVE;
}

// --- for the tests and the bench: GTK's own dialog, read in this process ---

void findTreeView(GtkWidget* widget, gpointer found) {
    auto** view = static_cast<GtkTreeView**>(found);
    if (*view) return;
    if (GTK_IS_TREE_VIEW(widget) && gtk_widget_get_mapped(widget)) {
        *view = GTK_TREE_VIEW(widget);
        return;
    }
    if (GTK_IS_CONTAINER(widget)) gtk_container_forall(GTK_CONTAINER(widget), &findTreeView, found);
}

GtkFileChooser* shownDialog() {
    GtkFileChooser* dialog = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* w = windows; w && !dialog; w = w->next)
        if (GTK_IS_FILE_CHOOSER_DIALOG(w->data)) dialog = GTK_FILE_CHOOSER(w->data);
    g_list_free(windows);
    return dialog;
}

long listedRows() {
    GtkFileChooser* dialog = shownDialog();
    if (!dialog) return -1;
    GtkTreeView* view = nullptr;
    findTreeView(GTK_WIDGET(dialog), &view);
    // The dialog's first mapped list: its files' (the places sidebar is a list box).
    if (!view || !gtk_tree_view_get_model(view)) return -1;
    return gtk_tree_model_iter_n_children(gtk_tree_view_get_model(view), nullptr);
}

gboolean reportWhenListed(gpointer data) {
    auto* run = static_cast<Run*>(data);
    if (!run->goTo.empty()) return G_SOURCE_CONTINUE;  // counted where it goes
    const long rows = listedRows();
    if (rows < run->reportListed) return G_SOURCE_CONTINUE;
    std::fprintf(stderr, "listed %ld in %.3f s\n", rows, std::chrono::duration<double>(Clock::now() - run->listFrom).count());
    std::fflush(stderr);
    if (run->untilListed) {
        std::printf("answered 0\n");
        std::fflush(stdout);
        g_main_loop_quit(run->loop);
    }
    return G_SOURCE_REMOVE;
}

gboolean goThere(gpointer data) {
    auto* run = static_cast<Run*>(data);
    if (GtkFileChooser* dialog = shownDialog()) gtk_file_chooser_set_current_folder(dialog, run->goTo.c_str());
    run->goTo.clear();
    run->listFrom = Clock::now();
    return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: kolvex-file-chooser files|file|folder TITLE ACCEPT_LABEL [START_FOLDER_HEX]\n");
        return 2;
    }
    const std::string mode = argv[1];
    // Numbers in what it prints do not follow the user's locale; its words do.
    gtk_disable_setlocale();
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "kolvex-file-chooser: no display to show the chooser on\n");
        return 3;
    }
    const bool folder = mode == "folder";
    const char* accept = argv[3][0] ? argv[3] : nullptr;
    Run run;
    run.loop = g_main_loop_new(nullptr, FALSE);
    run.native = gtk_file_chooser_native_new(argv[2], nullptr,
                                             folder ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN,
                                             accept, "_Cancel");
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(run.native);
    gtk_file_chooser_set_select_multiple(chooser, mode == "files" ? TRUE : FALSE);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    if (argc >= 5 && argv[4][0]) gtk_file_chooser_set_current_folder(chooser, fromHex(argv[4]).c_str());
    g_signal_connect(run.native, "response", G_CALLBACK(&onResponse), &run);

    GIOChannel* input = g_io_channel_unix_new(0);
    g_io_add_watch(input, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), &onInputClosed, &run);

    if (const char* count = std::getenv("KOLVEX_CHOOSER_REPORT_LISTED")) {
        run.reportListed = std::atol(count);
        run.untilListed = std::getenv("KOLVEX_CHOOSER_UNTIL_LISTED") != nullptr;
        g_timeout_add(5, &reportWhenListed, &run);
    }
    if (const char* there = std::getenv("KOLVEX_CHOOSER_GO_TO")) {
        run.goTo = fromHex(there);
        g_timeout_add(500, &goThere, &run);
    }

    run.listFrom = Clock::now();
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(run.native));
    g_main_loop_run(run.loop);

    gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(run.native));
    g_object_unref(run.native);
    // The dialog is off the screen before the program ends, and so before the one that asked
    // hears the answer and shows its next window: that window then keeps the keyboard.
    gdk_display_sync(gdk_display_get_default());
    g_io_channel_unref(input);
    g_main_loop_unref(run.loop);
    return 0;
}
