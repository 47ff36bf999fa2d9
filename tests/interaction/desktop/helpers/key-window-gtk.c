// SPDX-License-Identifier: GPL-3.0-or-later
/* An ordinary GTK 3 window, framed and focused by the window manager, that reports the keyboard.
 * Usage: key-window-gtk X Y W H
 * Prints "ready" once mapped, "focus-in" and "focus-out" as it gains and loses the keyboard, and
 * "key <name>" for every key pressed while it has it, and "click" for every button pressed on it. */
#include <stdio.h>
#include <stdlib.h>

#include <gtk/gtk.h>

static void say(const char* line) {
    printf("%s\n", line);
    fflush(stdout);
}

static gboolean on_key(GtkWidget* widget, GdkEventKey* event, gpointer user) {
    (void)widget, (void)user;
    const char* name = gdk_keyval_name(event->keyval);
    printf("key %s\n", name ? name : "?");
    fflush(stdout);
    return TRUE;
}

static gboolean on_button(GtkWidget* widget, GdkEventButton* event, gpointer user) {
    (void)widget, (void)user;
    /* GDK can hand one press on twice (once as the window manager replays it): one line each. */
    static guint32 last_time = 0;
    static guint last_button = 0;
    if (event->type != GDK_BUTTON_PRESS || (event->time == last_time && event->button == last_button)) return FALSE;
    last_time = event->time;
    last_button = event->button;
    say("click");
    return FALSE;
}

static gboolean on_focus(GtkWidget* widget, GdkEventFocus* event, gpointer user) {
    (void)widget, (void)user;
    say(event->in ? "focus-in" : "focus-out");
    return FALSE;
}

static gboolean on_map(GtkWidget* widget, GdkEvent* event, gpointer user) {
    (void)widget, (void)event, (void)user;
    say("ready");
    return FALSE;
}

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    if (argc < 5) {
        fprintf(stderr, "usage: key-window-gtk X Y W H\n");
        return 2;
    }
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Another program");
    gtk_window_move(GTK_WINDOW(window), atoi(argv[1]), atoi(argv[2]));
    gtk_window_set_default_size(GTK_WINDOW(window), atoi(argv[3]), atoi(argv[4]));
    gtk_widget_add_events(window, GDK_KEY_PRESS_MASK | GDK_BUTTON_PRESS_MASK | GDK_FOCUS_CHANGE_MASK | GDK_STRUCTURE_MASK);
    g_signal_connect(window, "key-press-event", G_CALLBACK(on_key), NULL);
    g_signal_connect(window, "button-press-event", G_CALLBACK(on_button), NULL);
    g_signal_connect(window, "focus-in-event", G_CALLBACK(on_focus), NULL);
    g_signal_connect(window, "focus-out-event", G_CALLBACK(on_focus), NULL);
    g_signal_connect(window, "map-event", G_CALLBACK(on_map), NULL);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
