// SPDX-License-Identifier: GPL-3.0-or-later
// A window that starts a Qt drag of the files named on its command line.
// Usage: drag-source-qt [--managed] X Y W H FILE...   Prints "ready", "drag-begin" and "drag-end".
// The window is borderless and out of the window manager's hands, unless --managed asks for a
// window the window manager stacks and focuses, as a file manager's is.
#include <cstdio>

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QUrl>
#include <QWidget>

namespace {

class Source : public QWidget {
public:
    explicit Source(QList<QUrl> urls) : m_urls(std::move(urls)) {}

protected:
    // Painted means mapped and exposed: input now reaches the window.
    void paintEvent(QPaintEvent*) override {
        if (m_ready) return;
        m_ready = true;
        std::printf("ready\n");
        std::fflush(stdout);
    }
    void mousePressEvent(QMouseEvent* event) override { m_start = event->position().toPoint(); }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (!(event->buttons() & Qt::LeftButton) || m_dragging) return;
        if ((event->position().toPoint() - m_start).manhattanLength() < QApplication::startDragDistance()) return;
        m_dragging = true;
        auto* drag = new QDrag(this);
        auto* data = new QMimeData;
        data->setUrls(m_urls);
        drag->setMimeData(data);
        std::printf("drag-begin\n");
        std::fflush(stdout);
        drag->exec(Qt::CopyAction);
        std::printf("drag-end\n");
        std::fflush(stdout);
        m_dragging = false;
    }

private:
    QList<QUrl> m_urls;
    QPoint m_start;
    bool m_dragging = false;
    bool m_ready = false;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QStringList args = app.arguments();
    const bool managed = args.size() > 1 && args[1] == QStringLiteral("--managed");
    if (managed) args.removeAt(1);
    if (args.size() < 6) {
        std::fprintf(stderr, "usage: drag-source-qt X Y W H FILE...\n");
        return 2;
    }
    QList<QUrl> urls;
    for (qsizetype i = 5; i < args.size(); ++i) urls.push_back(QUrl::fromLocalFile(args[i]));
    Source window(urls);
    window.setWindowFlags(managed ? Qt::Window | Qt::FramelessWindowHint
                                  : Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    window.setGeometry(args[1].toInt(), args[2].toInt(), args[3].toInt(), args[4].toInt());
    window.show();
    return app.exec();
}
