#include "app/window/dialogs.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <QUrl>

namespace app {

namespace {

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::kInformation:
            return QMessageBox::Information;
        case MessageIcon::kWarning:
            return QMessageBox::Warning;
        case MessageIcon::kError:
            return QMessageBox::Critical;
        case MessageIcon::kQuestion:
            return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

void MakeSystemModal(QMessageBox& box) {
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
}

}  // namespace

bool QtDialogs::AskYesNo(QWidget* parent, const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    MakeSystemModal(box);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void QtDialogs::ShowMessage(QWidget* parent, const QString& text, const QString& caption,
                            MessageIcon icon, bool systemModal) {
    QMessageBox box(ToQtIcon(icon), caption, text, QMessageBox::Ok, parent);
    if (systemModal) {
        MakeSystemModal(box);
    } else {
        box.setWindowModality(Qt::WindowModal);
    }
    box.exec();
}

std::optional<std::filesystem::path> QtDialogs::ChooseOpenFile(QWidget* parent,
                                                               const QString& title,
                                                               const QString& filter) {
    const QStringList files =
        QFileDialog::getOpenFileNames(parent, title, QString(), QtFileFilter(filter));
    if (files.isEmpty()) {
        return std::nullopt;
    }
    return std::filesystem::path(files.front().toStdU16String());
}

std::optional<std::filesystem::path> QtDialogs::ChooseFolder(QWidget* parent,
                                                             const QString& title) {
    const QString folder = QFileDialog::getExistingDirectory(parent, title);
    if (folder.isEmpty()) {
        return std::nullopt;
    }
    return std::filesystem::path(folder.toStdU16String());
}

int QtDialogs::RunModal(QDialog& dialog) {
    return dialog.exec();
}

bool QtDialogs::OpenDocument(const std::filesystem::path& file) {
    return QDesktopServices::openUrl(
        QUrl::fromLocalFile(QString::fromStdU16String(file.u16string())));
}

QString QtFileFilter(const QString& windowsFilter) {
    const QStringList parts = windowsFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& text = parts[i];
        if (text.isEmpty()) {
            break;
        }
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString trimmed = pattern.trimmed();
            if (!trimmed.isEmpty() && !patterns.contains(trimmed)) {
                patterns.append(trimmed);
            }
        }
        if (patterns.isEmpty()) {
            patterns.append(QStringLiteral("*"));
        }
        filters.append(text + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')'));
    }
    return filters.join(QStringLiteral(";;"));
}

}  // namespace app
