// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stdlib.h>

#include <gtk/gtk.h>

// The window both GTK helpers show: borderless at X Y, W × H in size (argv[1] to argv[4]),
// holding one event box that takes part in the drag. Returns the window; the box in `box`.
static inline GtkWidget* popup_with_box(char** argv, GtkWidget** box) {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_POPUP);
    gtk_window_move(GTK_WINDOW(window), atoi(argv[1]), atoi(argv[2]));
    gtk_window_set_default_size(GTK_WINDOW(window), atoi(argv[3]), atoi(argv[4]));
    *box = gtk_event_box_new();
    gtk_container_add(GTK_CONTAINER(window), *box);
    return window;
}

// Calls `on_map` once the window is on screen, quits when it is destroyed, and runs GTK's loop
// until then.
static inline void show_and_run(GtkWidget* window, GCallback on_map) {
    g_signal_connect(window, "map-event", on_map, NULL);
    gtk_widget_add_events(window, GDK_STRUCTURE_MASK);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    gtk_widget_show_all(window);
    gtk_main();
}
