// The viewer's files: opening one (the dialog, a dropped file), exporting, saving the chart's
// picture as PNG or SVG and copying it.
#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QSettings>
#include <QSvgGenerator>

#include "viewer/ExportDialog.h"
#include "viewer/ViewerWindow.h"

namespace rv8::viewer {

QSettings ViewerWindow::settings() {
    return QSettings(QStringLiteral("RV8 Scope"), QStringLiteral("rv8view"));
}

void ViewerWindow::openDialog() {
    const QString folder = settings().value(QStringLiteral("lastFolder")).toString();
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Open a recording"), folder,
                                     QStringLiteral("Recordings (*.cvx);;All files (*)"));
    if (!path.isEmpty()) openFile(path);
}

void ViewerWindow::exportDialog() {
    if (!source_->isOpen() || !view_->hasRecord()) return;
    ExportDialog dialog(*source_, record_, view_->facts().window, count_, this);
    dialog.exec();
}

void ViewerWindow::saveDialog() {
    const QString folder = settings().value(QStringLiteral("lastFolder")).toString();
    QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save the chart"), folder,
                                     QStringLiteral("PNG picture (*.png);;SVG drawing (*.svg)"));
    if (path.isEmpty()) return;
    QString error;
    if (!saveChart(path, error))
        QMessageBox::warning(this, QStringLiteral("Save the chart"), error);
}

void ViewerWindow::copyChart() {
    QApplication::clipboard()->setImage(chartPicture());
}

void ViewerWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && event->mimeData()->urls().value(0).isLocalFile())
        event->acceptProposedAction();
}

void ViewerWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.front().isLocalFile()) return;
    event->acceptProposedAction();
    openFile(urls.front().toLocalFile());
}

QImage ViewerWindow::chartPicture() {
    return chart_->picture();
}

bool ViewerWindow::saveChart(const QString& path, QString& error) {
    const QImage picture = chartPicture();
    if (QFileInfo(path).suffix().compare(QStringLiteral("svg"), Qt::CaseInsensitive) == 0) {
        // The chart is a picture of pixels: the drawing holds it at its size in logical pixels.
        const QSizeF size = picture.deviceIndependentSize();
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(size.toSize());
        svg.setViewBox(QRectF(QPointF(0, 0), size));
        svg.setTitle(windowTitle());
        QPainter p;
        if (!p.begin(&svg)) {
            error = QStringLiteral("Cannot write %1.").arg(path);
            return false;
        }
        p.drawImage(QRectF(QPointF(0, 0), size), picture);
        if (!p.end()) {
            error = QStringLiteral("Cannot write %1.").arg(path);
            return false;
        }
        return true;
    }
    if (!picture.save(path, "PNG")) {
        error = QStringLiteral("Cannot write %1.").arg(path);
        return false;
    }
    return true;
}

}  // namespace rv8::viewer
