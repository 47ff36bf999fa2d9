// SPDX-License-Identifier: GPL-3.0-or-later
/* A window that starts a GTK 3 drag of the files named on its command line.
 * Usage: drag-source-gtk [--refuse|--text|--movable] X Y W H FILE...
 * --refuse answers no request for the data (as a source that talks only to its drop target);
 * --text drags the FILE arguments as plain text instead of files;
 * --movable offers a move as well as a copy, as a file manager does (Shift then moves).
 * Prints "ready", "drag-begin" and "drag-end". */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <gtk/gtk.h>

#include "gtk-popup.h"

static gchar** uris;
static gboolean refuse = FALSE;
static gboolean as_text = FALSE;
static gboolean movable = FALSE;

static void say(const char* line) {
    printf("%s\n", line);
    fflush(stdout);
}

static void on_data_get(GtkWidget* widget, GdkDragContext* context, GtkSelectionData* data, guint info, guint time,
                        gpointer user) {
    (void)widget, (void)context, (void)info, (void)time, (void)user;
    if (refuse) return;
    if (as_text) {
        gchar* text = g_strjoinv("\n", uris);
        gtk_selection_data_set_text(data, text, -1);
        g_free(text);
        return;
    }
    gtk_selection_data_set_uris(data, uris);
}

static void on_begin(GtkWidget* widget, GdkDragContext* context, gpointer user) {
    (void)widget, (void)context, (void)user;
    say("drag-begin");
}

static void on_end(GtkWidget* widget, GdkDragContext* context, gpointer user) {
    (void)widget, (void)context, (void)user;
    say("drag-end");
}

static gboolean on_map(GtkWidget* widget, GdkEvent* event, gpointer user) {
    (void)widget, (void)event, (void)user;
    say("ready");
    return FALSE;
}

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    if (argc > 1 && strcmp(argv[1], "--refuse") == 0) refuse = TRUE;
    if (argc > 1 && strcmp(argv[1], "--text") == 0) as_text = TRUE;
    if (argc > 1 && strcmp(argv[1], "--movable") == 0) movable = TRUE;
    if (refuse || as_text || movable) {
        argv[1] = argv[0];
        ++argv;
        --argc;
    }
    if (argc < 6) {
        fprintf(stderr, "usage: drag-source-gtk X Y W H FILE...\n");
        return 2;
    }
    uris = g_new0(gchar*, (gsize)(argc - 5 + 1));
    for (int i = 5; i < argc; ++i) uris[i - 5] = as_text ? g_strdup(argv[i]) : g_filename_to_uri(argv[i], NULL, NULL);

    GtkWidget* box = NULL;
    GtkWidget* window = popup_with_box(argv, &box);

    static const GtkTargetEntry file_targets[] = {{(gchar*)"text/uri-list", 0, 0}};
    static const GtkTargetEntry text_targets[] = {{(gchar*)"text/plain", 0, 0}, {(gchar*)"UTF8_STRING", 0, 0}};
    if (as_text)
        gtk_drag_source_set(box, GDK_BUTTON1_MASK, text_targets, 2, GDK_ACTION_COPY);
    else
        gtk_drag_source_set(box, GDK_BUTTON1_MASK, file_targets, 1,
                            movable ? GDK_ACTION_COPY | GDK_ACTION_MOVE : GDK_ACTION_COPY);
    g_signal_connect(box, "drag-data-get", G_CALLBACK(on_data_get), NULL);
    g_signal_connect(box, "drag-begin", G_CALLBACK(on_begin), NULL);
    g_signal_connect(box, "drag-end", G_CALLBACK(on_end), NULL);
    show_and_run(window, G_CALLBACK(on_map));
    g_strfreev(uris);
    return 0;
}
