// The preview pane. Navigate shows the file at a path: an HTML page (UTF-16 little-endian,
// with or without a byte-order mark, or narrow text), a narrow text file (UTF-8, or the
// Windows ANSI code page when it is not valid UTF-8) with its line breaks, or, for a folder,
// the list of its entries. A page's images and style sheets are read only from regular files
// in the page's own folder (mail bodies are untrusted), and animated GIF images play. The
// pane has no context menu and follows no links.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

#include <QString>
#include <QTextBrowser>
#include <QUrl>

class QMovie;

namespace app {

// How the bytes of a file shown in the preview pane are turned into text: UTF-16
// little-endian when the file has that byte-order mark or contains a zero byte (narrow text
// never does), UTF-8 after its mark or when well-formed, Windows-1252 otherwise.
QString DecodePreviewText(std::string_view bytes);

class CExplorer1 : public QTextBrowser {
    Q_OBJECT

  public:
    enum class Shown { kNothing, kHtml, kText, kFolder, kMissing };

    explicit CExplorer1(QWidget* parent = nullptr);
    ~CExplorer1() override;

    void Navigate(const std::filesystem::path& path);

    const std::filesystem::path& Location() const { return location_; }
    Shown ShownKind() const { return shown_; }

    // Reads a page's image or style sheet (see above); nothing for any other name.
    QVariant loadResource(int type, const QUrl& name) override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    // Largest file a page may load as an image or style sheet.
    static constexpr std::uintmax_t kMaxResourceBytes = 16u << 20;

    // The file a page's resource name stands for, when it may be read.
    std::optional<std::filesystem::path> ResourceFile(const QUrl& name) const;
    void StopMovies();

    std::filesystem::path location_;
    std::filesystem::path folder_;
    Shown shown_ = Shown::kNothing;
    std::map<QString, std::unique_ptr<QMovie>> movies_;
};

}  // namespace app
