// SPDX-License-Identifier: GPL-3.0-or-later
// A drag source that speaks XDND itself, the way Chromium does: when a drag begins it reads the
// size and shape of every top-level window once and picks its drop target from those for the
// whole drag (only where the windows are and whether they are mapped is read again).
//
//   xdnd-source X Y SIDE [--hold-drop | --withdraw] FILE...
//
// Shows a SIDE × SIDE square at (X, Y); pressing button 1 on it and moving starts a drag of the
// files. Prints "ready", "drag-begin", "enter 0xWINDOW" when it first offers the drag to a
// window, "released" when the button goes up, "drop-sent", "finished accepted=N" and
// "drag-end". With --hold-drop the XdndDrop waits after the release until a line "drop" arrives
// on standard input (a source slowed down by a busy desktop). With --withdraw the release sends
// XdndLeave instead of the drop and prints "withdrawn", as Qt and GTK sources do when the target's
// acceptance has not reached them yet.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define MAX_WINDOWS 512

typedef struct {
    Window window;
    int width, height;       // read once per drag
    XRectangle* shape;       // read once per drag (relative to the window)
    int shapeCount;
} Cached;

static Display* d;
static Window root, self;
static Atom aSelection, aAware, aEnter, aPosition, aStatus, aLeave, aDrop, aFinished, aCopy, aUriList, aTargets;
static Cached cache[MAX_WINDOWS];
static int cached;
static char* uriList;

static void say(const char* line) {
    printf("%s\n", line);
    fflush(stdout);
}

static void appendUri(char** list, size_t* size, const char* path) {
    static const char* hex = "0123456789ABCDEF";
    size_t need = *size + strlen(path) * 3 + 16;
    *list = realloc(*list, need);
    char* out = *list + *size;
    out += sprintf(out, "file://");
    for (const unsigned char* p = (const unsigned char*)path; *p; ++p) {
        if ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9') || strchr("/-._~", *p)) {
            *out++ = (char)*p;
        } else {
            *out++ = '%';
            *out++ = hex[*p >> 4];
            *out++ = hex[*p & 15];
        }
    }
    *out++ = '\r';
    *out++ = '\n';
    *out = 0;
    *size = (size_t)(out - *list);
}

static Cached* remember(Window w) {
    if (cached >= MAX_WINDOWS) return NULL;
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, w, &a)) return NULL;
    Cached* c = &cache[cached++];
    c->window = w;
    c->width = a.width;
    c->height = a.height;
    int ordering = 0;
    c->shape = XShapeGetRectangles(d, w, ShapeBounding, &c->shapeCount, &ordering);
    return c;
}

static Cached* lookUp(Window w) {
    for (int i = 0; i < cached; ++i)
        if (cache[i].window == w) return &cache[i];
    return remember(w);  // a window made during the drag is read when first seen
}

static void readWindowsOnce(void) {
    for (int i = 0; i < cached; ++i)
        if (cache[i].shape) XFree(cache[i].shape);
    cached = 0;
    Window r, parent, *children = NULL;
    unsigned int count = 0;
    if (!XQueryTree(d, root, &r, &parent, &children, &count)) return;
    for (unsigned int i = 0; i < count; ++i) remember(children[i]);
    if (children) XFree(children);
}

// The XdndAware window at or below `w`, if any.
static Window awareWindow(Window w) {
    Atom type;
    int format;
    unsigned long items, after;
    unsigned char* data = NULL;
    if (XGetWindowProperty(d, w, aAware, 0, 1, False, AnyPropertyType, &type, &format, &items, &after, &data) == Success &&
        data) {
        XFree(data);
        if (type != None) return w;
    }
    Window r, parent, *children = NULL;
    unsigned int count = 0;
    Window found = None;
    if (XQueryTree(d, w, &r, &parent, &children, &count)) {
        for (unsigned int i = count; i-- > 0 && found == None;) found = awareWindow(children[i]);
        if (children) XFree(children);
    }
    return found;
}

// The drop target under the root point: the windows in their stacking order now, each at the
// size and shape it had when the drag began (or when the drag first saw it).
static Window targetAt(int x, int y) {
    Window r, parent, *children = NULL;
    unsigned int count = 0;
    if (!XQueryTree(d, root, &r, &parent, &children, &count)) return None;
    Window found = None;
    for (unsigned int i = count; i-- > 0 && found == None;) {
        if (children[i] == self) continue;
        const Cached* c = lookUp(children[i]);
        if (!c) continue;
        XWindowAttributes a;
        if (!XGetWindowAttributes(d, c->window, &a) || a.map_state != IsViewable) continue;
        const int rx = x - a.x, ry = y - a.y;  // where it is now, at the size it had
        if (rx < 0 || ry < 0 || rx >= c->width || ry >= c->height) continue;
        int inside = c->shapeCount == 0;
        for (int k = 0; k < c->shapeCount && !inside; ++k) {
            const XRectangle* s = &c->shape[k];
            inside = rx >= s->x && ry >= s->y && rx < s->x + s->width && ry < s->y + s->height;
        }
        if (!inside) continue;
        found = awareWindow(c->window);
        if (found == None) break;  // the topmost window there takes no drops
    }
    if (children) XFree(children);
    return found;
}

static void send(Window target, Atom type, long l0, long l1, long l2, long l3, long l4) {
    XEvent e;
    memset(&e, 0, sizeof e);
    e.xclient.type = ClientMessage;
    e.xclient.window = target;
    e.xclient.message_type = type;
    e.xclient.format = 32;
    e.xclient.data.l[0] = l0;
    e.xclient.data.l[1] = l1;
    e.xclient.data.l[2] = l2;
    e.xclient.data.l[3] = l3;
    e.xclient.data.l[4] = l4;
    XSendEvent(d, target, False, NoEventMask, &e);
    XFlush(d);
}

static void answerSelection(const XSelectionRequestEvent* r) {
    XSelectionEvent n;
    memset(&n, 0, sizeof n);
    n.type = SelectionNotify;
    n.requestor = r->requestor;
    n.selection = r->selection;
    n.target = r->target;
    n.time = r->time;
    n.property = None;
    Atom property = r->property != None ? r->property : r->target;
    if (r->target == aUriList) {
        XChangeProperty(d, r->requestor, property, aUriList, 8, PropModeReplace, (unsigned char*)uriList, (int)strlen(uriList));
        n.property = property;
    } else if (r->target == aTargets) {
        Atom targets[2] = {aTargets, aUriList};
        XChangeProperty(d, r->requestor, property, XA_ATOM, 32, PropModeReplace, (unsigned char*)targets, 2);
        n.property = property;
    }
    XSendEvent(d, r->requestor, False, NoEventMask, (XEvent*)&n);
    XFlush(d);
}

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    const int x = atoi(argv[1]), y = atoi(argv[2]), side = atoi(argv[3]);
    const int holdDrop = strcmp(argv[4], "--hold-drop") == 0, withdraw = strcmp(argv[4], "--withdraw") == 0;
    const int first = holdDrop || withdraw ? 5 : 4;
    size_t size = 0;
    for (int i = first; i < argc; ++i) appendUri(&uriList, &size, argv[i]);
    if (!uriList) return 2;
    d = XOpenDisplay(NULL);
    if (!d) return 1;
    root = DefaultRootWindow(d);
    aSelection = XInternAtom(d, "XdndSelection", False);
    aAware = XInternAtom(d, "XdndAware", False);
    aEnter = XInternAtom(d, "XdndEnter", False);
    aPosition = XInternAtom(d, "XdndPosition", False);
    aStatus = XInternAtom(d, "XdndStatus", False);
    aLeave = XInternAtom(d, "XdndLeave", False);
    aDrop = XInternAtom(d, "XdndDrop", False);
    aFinished = XInternAtom(d, "XdndFinished", False);
    aCopy = XInternAtom(d, "XdndActionCopy", False);
    aUriList = XInternAtom(d, "text/uri-list", False);
    aTargets = XInternAtom(d, "TARGETS", False);

    XSetWindowAttributes attributes;
    attributes.override_redirect = True;
    attributes.background_pixel = 0x3080c0;
    attributes.event_mask = ButtonPressMask | ButtonReleaseMask | ButtonMotionMask | PointerMotionMask | StructureNotifyMask;
    self = XCreateWindow(d, root, x, y, (unsigned)side, (unsigned)side, 0, CopyFromParent, InputOutput, CopyFromParent,
                         CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
    XMapRaised(d, self);
    XSync(d, False);
    say("ready");

    int pressed = 0, dragging = 0, released = 0, dropSent = 0;
    int pressX = 0, pressY = 0;
    Window target = None;
    Time last = CurrentTime;
    struct pollfd fds[2] = {{ConnectionNumber(d), POLLIN, 0}, {0, POLLIN, 0}};
    for (;;) {
        while (XPending(d)) {
            XEvent e;
            XNextEvent(d, &e);
            if (e.type == ButtonPress && e.xbutton.button == 1 && !dragging) {
                pressed = 1;
                pressX = e.xbutton.x_root;
                pressY = e.xbutton.y_root;
                last = e.xbutton.time;
            } else if (e.type == MotionNotify && pressed) {
                last = e.xmotion.time;
                const int px = e.xmotion.x_root, py = e.xmotion.y_root;
                if (!dragging && (abs(px - pressX) > 3 || abs(py - pressY) > 3)) {
                    XSetSelectionOwner(d, aSelection, self, last);
                    readWindowsOnce();
                    dragging = 1;
                    say("drag-begin");
                }
                if (dragging && !released) {
                    Window now = targetAt(px, py);
                    if (now != target) {
                        if (target != None) send(target, aLeave, (long)self, 0, 0, 0, 0);
                        target = now;
                        if (target != None) {
                            send(target, aEnter, (long)self, 5L << 24, (long)aUriList, 0, 0);
                            char line[64];
                            snprintf(line, sizeof line, "enter 0x%lx", (unsigned long)target);
                            say(line);
                        }
                    }
                    if (target != None) send(target, aPosition, (long)self, 0, ((long)px << 16) | py, (long)last, (long)aCopy);
                }
            } else if (e.type == ButtonRelease && e.xbutton.button == 1 && pressed) {
                pressed = 0;
                last = e.xbutton.time;
                if (!dragging) continue;
                released = 1;
                say("released");
                if (target != None && withdraw) {
                    send(target, aLeave, (long)self, 0, 0, 0, 0);
                    target = None;
                    say("withdrawn");
                }
                if (target == None) {
                    say("drag-end");
                    dragging = released = 0;
                } else if (!holdDrop) {
                    send(target, aDrop, (long)self, 0, (long)last, 0, 0);
                    dropSent = 1;
                    say("drop-sent");
                }
            } else if (e.type == SelectionRequest) {
                answerSelection(&e.xselectionrequest);
            } else if (e.type == ClientMessage && e.xclient.message_type == aFinished) {
                char line[64];
                snprintf(line, sizeof line, "finished accepted=%ld", e.xclient.data.l[1] & 1);
                say(line);
                say("drag-end");
                dragging = released = dropSent = 0;
                target = None;
            } else if (e.type == ClientMessage && e.xclient.message_type == aStatus) {
                // The target's answer; the drop is sent whatever it says, as a user's release is.
            }
        }
        if (poll(fds, released && holdDrop && !dropSent ? 2 : 1, -1) < 0) break;
        if (released && holdDrop && !dropSent && (fds[1].revents & POLLIN)) {
            char line[64];
            if (!fgets(line, sizeof line, stdin)) break;
            if (strncmp(line, "drop", 4) == 0 && target != None) {
                send(target, aDrop, (long)self, 0, (long)last, 0, 0);
                dropSent = 1;
                say("drop-sent");
            }
        }
        if (fds[1].revents & (POLLHUP | POLLERR)) fds[1].fd = -1;
    }
    return 0;
}
