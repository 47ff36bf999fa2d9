// SPDX-License-Identifier: GPL-3.0-or-later
// The GTK side of the desktop's file chooser. This file includes no Qt header: GTK's headers
// name members "signals", which Qt's keyword macros break. Qt's event loop on Linux is GLib's,
// so GTK's dialog and its "response" signal are served by the loop that runs the application;
// nothing here runs a loop of its own.
#include <map>
#include <utility>

#include <gtk/gtk.h>

#include "app/GtkFileChooser.h"

namespace kolvex {

namespace {

class GtkChooser final : public FileChooser, public std::enable_shared_from_this<GtkChooser> {
public:
    Id show(const Request& request, Answer answer) override {
        if (!ready()) {
            if (answer) answer({});
            return 0;
        }
        const Id id = ++m_lastId;
        const bool folder = request.mode == Mode::chooseFolder;
        GtkFileChooserNative* native = gtk_file_chooser_native_new(
            request.title.c_str(), nullptr, folder ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN,
            request.acceptLabel.empty() ? nullptr : request.acceptLabel.c_str(), "_Cancel");
        GtkFileChooser* chooser = GTK_FILE_CHOOSER(native);
        gtk_file_chooser_set_select_multiple(chooser, request.mode == Mode::openFiles ? TRUE : FALSE);
        gtk_file_chooser_set_local_only(chooser, TRUE);
        if (request.startFolder) gtk_file_chooser_set_current_folder(chooser, request.startFolder->c_str());
        // Not modal: the Portal and the tray stay usable while the chooser is up.
        gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(native), FALSE);
        m_shown.emplace(id, Shown{native, std::move(answer)});
        auto* context = new Context{weak_from_this(), id};
        g_signal_connect_data(native, "response", G_CALLBACK(&GtkChooser::onResponse), context,
                              [](gpointer data, GClosure*) { delete static_cast<Context*>(data); }, GConnectFlags(0));
        gtk_native_dialog_show(GTK_NATIVE_DIALOG(native));
        return id;
    }

    void withdraw(Id id) override {
        auto found = m_shown.find(id);
        if (found == m_shown.end()) return;
        GtkFileChooserNative* native = found->second.native;
        m_shown.erase(found);
        g_signal_handlers_disconnect_matched(native, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                             reinterpret_cast<gpointer>(&GtkChooser::onResponse), nullptr);
        gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(native));
        g_object_unref(native);
    }

    bool isShown(Id id) const override { return m_shown.count(id) > 0; }

private:
    struct Shown {
        GtkFileChooserNative* native;
        Answer answer;
    };
    struct Context {
        std::weak_ptr<GtkChooser> owner;
        Id id;
    };

    // GTK is started once, on the GUI thread, once the application exists; it leaves the
    // process's locale alone (numbers in files and command lines do not follow it).
    static bool ready() {
        static const bool started = [] {
            gtk_disable_setlocale();
            return gtk_init_check(nullptr, nullptr) == TRUE;
        }();
        return started;
    }

    static void onResponse(GtkNativeDialog* dialog, gint response, gpointer data) {
        const auto* context = static_cast<const Context*>(data);
        auto self = context->owner.lock();
        if (!self) return;
        self->answered(context->id, GTK_FILE_CHOOSER(dialog), response);
    }

    void answered(Id id, GtkFileChooser* chooser, gint response) {
        auto found = m_shown.find(id);
        if (found == m_shown.end()) return;
        Shown shown = std::move(found->second);
        m_shown.erase(found);
        std::vector<std::filesystem::path> chosen;
        if (response == GTK_RESPONSE_ACCEPT) {
            GSList* names = gtk_file_chooser_get_filenames(chooser);
            for (GSList* n = names; n; n = n->next) {
                auto* bytes = static_cast<char*>(n->data);
                if (bytes) chosen.emplace_back(std::string(bytes));
                g_free(bytes);
            }
            g_slist_free(names);
        }
        // The dialog goes before the answer, which may show another.
        g_signal_handlers_disconnect_matched(shown.native, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                             reinterpret_cast<gpointer>(&GtkChooser::onResponse), nullptr);
        gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(shown.native));
        g_object_unref(shown.native);
        if (shown.answer) shown.answer(std::move(chosen));
    }

    Id m_lastId = 0;
    std::map<Id, Shown> m_shown;
};

}  // namespace

std::shared_ptr<FileChooser> desktopFileChooser() {
    static const std::shared_ptr<GtkChooser> chooser = std::make_shared<GtkChooser>();
    return chooser;
}

}  // namespace kolvex
