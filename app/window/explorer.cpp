#include "app/window/explorer.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include <QContextMenuEvent>
#include <QFile>
#include <QMouseEvent>
#include <QMovie>
#include <QPixmap>
#include <QTextDocument>

#include "platform/codepage.h"

namespace app {

namespace {

bool IsHtmlFile(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".html" || extension == ".htm";
}

QString Utf16LeToQString(std::string_view bytes) {
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return QString::fromStdU16String(text);
}

QString PathText(const std::filesystem::path& path) {
    return QString::fromStdU16String(path.u16string());
}

}  // namespace

QString DecodePreviewText(std::string_view bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        return Utf16LeToQString(bytes.substr(2));
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
        return QString::fromStdU16String(platform::Utf8ToUtf16(bytes));
    }
    if (bytes.find('\0') != std::string_view::npos) {
        return Utf16LeToQString(bytes);
    }
    if (platform::IsValidUtf8(bytes)) {
        return QString::fromStdU16String(platform::Utf8ToUtf16(bytes));
    }
    return QString::fromStdU16String(platform::Cp1252ToUtf16(bytes));
}

CExplorer1::CExplorer1(QWidget* parent) : QTextBrowser(parent) {
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    viewport()->setContextMenuPolicy(Qt::NoContextMenu);
    viewport()->installEventFilter(this);
    setFocusPolicy(Qt::StrongFocus);
}

CExplorer1::~CExplorer1() {
    StopMovies();
}

void CExplorer1::StopMovies() {
    for (auto& [name, movie] : movies_) {
        movie->stop();
        movie->disconnect(this);
    }
    movies_.clear();
}

void CExplorer1::Navigate(const std::filesystem::path& path) {
    StopMovies();
    location_ = path;
    document()->clear();
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        folder_ = path;
        setSearchPaths({PathText(path)});
        std::vector<std::pair<QString, bool>> entries;
        for (const auto& entry : std::filesystem::directory_iterator(path, ec)) {
            std::error_code typeError;
            entries.emplace_back(PathText(entry.path().filename()), entry.is_directory(typeError));
        }
        std::sort(entries.begin(), entries.end());
        QString html =
            QStringLiteral("<h3>") + PathText(path).toHtmlEscaped() + QStringLiteral("</h3><ul>");
        for (const auto& [name, isFolder] : entries) {
            html += QStringLiteral("<li>") + name.toHtmlEscaped() +
                    (isFolder ? QStringLiteral("/") : QString()) + QStringLiteral("</li>");
        }
        html += QStringLiteral("</ul>");
        setHtml(html);
        shown_ = Shown::kFolder;
        return;
    }

    std::ifstream in(path, std::ios::binary);
    if (!in) {
        folder_.clear();
        setPlainText(QStringLiteral("The page at %1 cannot be shown.").arg(PathText(path)));
        shown_ = Shown::kMissing;
        return;
    }
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const QString text = DecodePreviewText(bytes);
    folder_ = path.parent_path();
    setSearchPaths({PathText(folder_)});
    if (IsHtmlFile(path)) {
        setHtml(text);
        shown_ = Shown::kHtml;
    } else {
        setPlainText(text);
        shown_ = Shown::kText;
    }
}

std::optional<std::filesystem::path> CExplorer1::ResourceFile(const QUrl& name) const {
    if (folder_.empty()) {
        return std::nullopt;
    }
    std::filesystem::path candidate;
    if (name.isLocalFile()) {
        candidate = std::filesystem::path(name.toLocalFile().toStdU16String());
    } else if (name.isRelative() && name.scheme().isEmpty() && !name.path().isEmpty()) {
        candidate = folder_ / std::filesystem::path(name.path().toStdU16String());
    } else {
        return std::nullopt;
    }
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::weakly_canonical(folder_, ec);
    if (ec) {
        return std::nullopt;
    }
    const std::filesystem::path file = std::filesystem::weakly_canonical(candidate, ec);
    if (ec) {
        return std::nullopt;
    }
    const std::filesystem::path inside = file.lexically_relative(folder);
    if (inside.empty() || *inside.begin() == "..") {
        return std::nullopt;
    }
    if (!std::filesystem::is_regular_file(file, ec)) {
        return std::nullopt;
    }
    const auto size = std::filesystem::file_size(file, ec);
    if (ec || size > kMaxResourceBytes) {
        return std::nullopt;
    }
    return file;
}

QVariant CExplorer1::loadResource(int type, const QUrl& name) {
    const std::optional<std::filesystem::path> file = ResourceFile(name);
    if (!file) {
        return {};
    }
    const QString path = PathText(*file);
    if (type == QTextDocument::ImageResource &&
        path.endsWith(QStringLiteral(".gif"), Qt::CaseInsensitive)) {
        auto movie = std::make_unique<QMovie>(path);
        if (movie->isValid()) {
            QMovie* playing = movie.get();
            connect(playing, &QMovie::frameChanged, this, [this, playing, name](int) {
                document()->addResource(QTextDocument::ImageResource, name,
                                        playing->currentPixmap());
                viewport()->update();
            });
            playing->start();
            const QPixmap first = playing->currentPixmap();
            movies_[name.toString()] = std::move(movie);
            return first;
        }
    }
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        return {};
    }
    return in.readAll();
}

bool CExplorer1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == viewport() &&
        (event->type() == QEvent::MouseButtonPress ||
         event->type() == QEvent::MouseButtonDblClick) &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        return true;
    }
    return QTextBrowser::eventFilter(watched, event);
}

void CExplorer1::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
}

}  // namespace app
