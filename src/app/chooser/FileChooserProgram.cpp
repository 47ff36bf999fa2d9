// SPDX-License-Identifier: GPL-3.0-or-later
// kolvex-file-chooser: the desktop's own file chooser (GTK 3's GtkFileChooserNative: the desktop
// portal's chooser where one runs, else GTK's dialog) in a process of its own. GTK lists a folder
// on the loop of the process that shows it, a folder of 50,000 files for seconds; here that loop
// is not the tray's, which goes on answering while the chooser lists.
//
//   kolvex-file-chooser files|file|folder TITLE ACCEPT_LABEL [START_FOLDER_HEX [WINDOW]]
//
// TITLE and ACCEPT_LABEL are UTF-8; START_FOLDER_HEX is the folder's bytes in hexadecimal (a
// name need not be UTF-8). WINDOW (an X window id, 0 for none) is the window the question is
// about, the one the user dragged files from: the chooser opens beside it where its screen has
// room, belongs to it (the window manager keeps it above it), and once answered hands the
// window back the keyboard and the top of the stack, where it was when the user dragged from it. When the user answers it prints one line "chosen HEX" per name (its
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

#include <gdk/gdkx.h>
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
    GdkWindow* beside = nullptr;  // the window the question is about; none when gone or not given
    long reportListed = -1;
    bool untilListed = false;
    std::string goTo;
    Clock::time_point listFrom = Clock::now();
};

// --- the window the question is about ---

// The rectangle of `window` with its window manager's frame, in the root window's coordinates.
GdkRectangle frameOf(GdkWindow* window) {
    GdkRectangle frame{};
    // The window's program may have quit meanwhile: its window is then an empty rectangle.
    GdkDisplay* display = gdk_window_get_display(window);
    gdk_x11_display_error_trap_push(display);
    gdk_window_get_frame_extents(window, &frame);
    if (gdk_x11_display_error_trap_pop(display) != 0) frame = GdkRectangle{};
    return frame;
}

// Where a chooser of `size` goes beside `source` within `area`: to its right, else its left,
// else below, else above, level with it as far as the area allows; false when no side has room.
bool besidePlace(const GdkRectangle& source, int width, int height, const GdkRectangle& area, int& x, int& y) {
    constexpr int kGap = 8;
    const auto clamp = [](int value, int low, int high) { return std::max(low, std::min(value, high)); };
    const int level = clamp(source.y + (source.height - height) / 2, area.y, area.y + area.height - height);
    const int centred = clamp(source.x + (source.width - width) / 2, area.x, area.x + area.width - width);
    if (height <= area.height && source.x + source.width + kGap + width <= area.x + area.width) {
        x = source.x + source.width + kGap;
        y = level;
        return true;
    }
    if (height <= area.height && source.x - kGap - width >= area.x) {
        x = source.x - kGap - width;
        y = level;
        return true;
    }
    if (width <= area.width && source.y + source.height + kGap + height <= area.y + area.height) {
        x = centred;
        y = source.y + source.height + kGap;
        return true;
    }
    if (width <= area.width && source.y - kGap - height >= area.y) {
        x = centred;
        y = source.y - kGap - height;
        return true;
    }
    return false;
}

// GTK makes the chooser's dialog inside gtk_native_dialog_show(), and shows it there. As it is
// mapped (an emission hook runs before the signal's own handler, which maps the window; the
// window exists and has its size by then) it is given its owner and its place beside it, with
// the position marked as asked for, which window managers keep.
gboolean placeBeside(GSignalInvocationHint*, guint, const GValue* values, gpointer data) {
    auto* run = static_cast<Run*>(data);
    auto* widget = static_cast<GtkWidget*>(g_value_get_object(&values[0]));
    GdkWindow* window = GTK_IS_FILE_CHOOSER_DIALOG(widget) ? gtk_widget_get_window(widget) : nullptr;
    if (!run->beside || !window || !GDK_IS_X11_WINDOW(window)) return TRUE;
    gdk_window_set_transient_for(window, run->beside);
    const int width = gdk_window_get_width(window), height = gdk_window_get_height(window);
    const GdkRectangle source = frameOf(run->beside);
    if (source.width <= 0 || source.height <= 0) return TRUE;
    GdkDisplay* display = gdk_window_get_display(window);
    GdkMonitor* monitor =
        gdk_display_get_monitor_at_point(display, source.x + source.width / 2, source.y + source.height / 2);
    GdkRectangle area{};
    if (monitor) gdk_monitor_get_workarea(monitor, &area);
    int x = 0, y = 0;
    // Where no side has room the window manager places it, over its owner.
    if (!monitor || !besidePlace(source, width, height, area, x, y)) return TRUE;
    // GDK's coordinates are the X server's divided by the window's scale.
    const int scale = gdk_window_get_scale_factor(window);
    Display* xdisplay = GDK_DISPLAY_XDISPLAY(display);
    const Window xid = GDK_WINDOW_XID(window);
    XSizeHints* hints = XAllocSizeHints();
    long supplied = 0;
    if (hints) {
        XGetWMNormalHints(xdisplay, xid, hints, &supplied);
        hints->flags |= USPosition;
        hints->x = x * scale;
        hints->y = y * scale;
        XSetWMNormalHints(xdisplay, xid, hints);
        XFree(hints);
    }
    XMoveWindow(xdisplay, xid, x * scale, y * scale);
    return TRUE;
}

// Hands the window the question was about the keyboard and the top of the stack, as a click
// on it would, stamped with the time of the answer.
void giveBack(Run* run, guint32 time) {
    if (!run->beside) return;
    GdkDisplay* display = gdk_window_get_display(run->beside);
    Display* xdisplay = GDK_DISPLAY_XDISPLAY(display);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = GDK_WINDOW_XID(run->beside);
    event.xclient.message_type = gdk_x11_get_xatom_by_name_for_display(display, "_NET_ACTIVE_WINDOW");
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;  // at the user's direct request (their answer)
    event.xclient.data.l[1] = time;
    event.xclient.data.l[2] = 0;
    XSendEvent(xdisplay, DefaultRootWindow(xdisplay), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(xdisplay);
}

void onResponse(GtkNativeDialog* dialog, gint response, gpointer data) {
    auto* run = static_cast<Run*>(data);
    const guint32 answeredAt = gtk_get_current_event_time();
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
    // Only an answer gives the window back: a chooser withdrawn (a new drag began) leaves the
    // keyboard where the user has it now.
    gtk_native_dialog_hide(dialog);
    giveBack(run, answeredAt);
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
    if (argc >= 6) {
        const unsigned long window = std::strtoul(argv[5], nullptr, 10);
        GdkDisplay* display = gdk_display_get_default();
        // A window gone meanwhile (its program quit) is none: the chooser opens as without one.
        if (window != 0 && GDK_IS_X11_DISPLAY(display)) {
            gdk_x11_display_error_trap_push(display);
            run.beside = gdk_x11_window_foreign_new_for_display(display, window);
            gdk_x11_display_error_trap_pop_ignored(display);
        }
        if (run.beside) {
            g_signal_add_emission_hook(g_signal_lookup("map", GTK_TYPE_WIDGET), 0, &placeBeside, &run, nullptr);
        }
    }
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
    if (run.beside) g_object_unref(run.beside);
    return 0;
}
