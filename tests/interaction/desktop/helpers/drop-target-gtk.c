// SPDX-License-Identifier: GPL-3.0-or-later
/* A window that takes dropped files, as a file manager's folder would (copy or move).
 * Usage: drop-target-gtk X Y W H
 * Prints "ready", "over" when a drag comes over it, "left" when the drag goes elsewhere, and
 * "dropped URI" for every file of every drop it receives. */
#include <stdio.h>
#include <stdlib.h>

#include <gtk/gtk.h>

#include "gtk-popup.h"

static void say(const char* prefix, const char* text) {
    printf("%s%s\n", prefix, text);
    fflush(stdout);
}

static void on_received(GtkWidget* widget, GdkDragContext* context, gint x, gint y, GtkSelectionData* data,
                        guint info, guint time, gpointer user) {
    (void)widget, (void)x, (void)y, (void)info, (void)user;
    gchar** uris = gtk_selection_data_get_uris(data);
    const gboolean taken = uris != NULL;
    for (gchar** uri = uris; uri && *uri; ++uri) say("dropped ", *uri);
    g_strfreev(uris);
    /* Taken as a copy: the test's source file stays where it is. */
    gtk_drag_finish(context, taken, FALSE, time);
}

static gboolean over = FALSE;

static gboolean on_motion(GtkWidget* widget, GdkDragContext* context, gint x, gint y, guint time, gpointer user) {
    (void)widget, (void)context, (void)x, (void)y, (void)time, (void)user;
    if (!over) say("over", "");
    over = TRUE;
    return FALSE;
}

static void on_leave(GtkWidget* widget, GdkDragContext* context, guint time, gpointer user) {
    (void)widget, (void)context, (void)time, (void)user;
    if (over) say("left", "");
    over = FALSE;
}

static gboolean on_map(GtkWidget* widget, GdkEvent* event, gpointer user) {
    (void)widget, (void)event, (void)user;
    say("ready", "");
    return FALSE;
}

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    if (argc < 5) {
        fprintf(stderr, "usage: drop-target-gtk X Y W H\n");
        return 2;
    }
    GtkWidget* box = NULL;
    GtkWidget* window = popup_with_box(argv, &box);
    static const GtkTargetEntry targets[] = {{(gchar*)"text/uri-list", 0, 0}};
    gtk_drag_dest_set(box, GTK_DEST_DEFAULT_ALL, targets, 1, GDK_ACTION_COPY | GDK_ACTION_MOVE);
    g_signal_connect(box, "drag-data-received", G_CALLBACK(on_received), NULL);
    g_signal_connect(box, "drag-motion", G_CALLBACK(on_motion), NULL);
    g_signal_connect(box, "drag-leave", G_CALLBACK(on_leave), NULL);
    show_and_run(window, G_CALLBACK(on_map));
    return 0;
}
