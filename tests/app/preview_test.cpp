// The preview pane: the files it is navigated to, its images, and what the mouse and keys do.
#include <fstream>
#include <string>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QImage>
#include <QMenu>
#include <QMovie>
#include <QPixmap>
#include <QTextDocument>

#include "app/window/explorer.h"
#include "window_fixture.h"

namespace {

using app::CExplorer1;

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// UTF-16 little-endian, no byte-order mark.
void WriteUtf16(const std::filesystem::path& path, std::u16string_view text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    WriteBytes(path, bytes);
}

bool AnyMenuVisible() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMenu*>(widget) != nullptr && widget->isVisible()) {
            return true;
        }
    }
    return false;
}

class PreviewTest : public testing_support::WindowTest {
  protected:
    CExplorer1* Pane() const { return window->Preview(); }
};

TEST_F(PreviewTest, ShowsAUtf16PageWithoutByteOrderMark) {
    const auto page = temp.path() / "htmlbody.html";
    WriteUtf16(page, u"From : Ann <br>Subject : Lunch \u00e9\u4e2d <br>Start Date : Monday <br>");
    window->NavigatePreview(page);
    EXPECT_EQ(Pane()->ShownKind(), CExplorer1::Shown::kHtml);
    EXPECT_EQ(Pane()->Location(), page);
    EXPECT_EQ(Pane()->toPlainText(),
              QString::fromStdU16String(
                  u"From : Ann \nSubject : Lunch \u00e9\u4e2d \nStart Date : Monday \n"));
}

TEST_F(PreviewTest, ShowsANarrowTextFileWithItsLineBreaks) {
    const auto body = temp.path() / "txtbody.txt";
    WriteBytes(body, "Dear Ann,\r\n\r\nlunch at <noon> & caf\xe9?\r\n");
    window->NavigatePreview(body);
    EXPECT_EQ(Pane()->ShownKind(), CExplorer1::Shown::kText);
    EXPECT_EQ(Pane()->toPlainText(),
              QString::fromStdU16String(u"Dear Ann,\n\nlunch at <noon> & caf\u00e9?\n"));
}

TEST_F(PreviewTest, ShowsANarrowHtmlBodyAsHtml) {
    const auto body = temp.path() / "txtbody.html";
    WriteBytes(body, "<html><body><p>Hello <b>there</b></p><p>caf\xc3\xa9</p></body></html>");
    window->NavigatePreview(body);
    EXPECT_EQ(Pane()->ShownKind(), CExplorer1::Shown::kHtml);
    EXPECT_EQ(Pane()->toPlainText(), QString::fromStdU16String(u"Hello there\ncaf\u00e9"));
}

TEST_F(PreviewTest, DecodesByMarkZeroBytesAndUtf8Validity) {
    EXPECT_EQ(app::DecodePreviewText(std::string("\xFF\xFEh\0i\0", 6)), "hi");
    EXPECT_EQ(app::DecodePreviewText(std::string("h\0i\0", 4)), "hi");
    EXPECT_EQ(app::DecodePreviewText("\xEF\xBB\xBFok"), "ok");
    EXPECT_EQ(app::DecodePreviewText("\xe2\x82\xac"), QString::fromStdU16String(u"\u20ac"));
    EXPECT_EQ(app::DecodePreviewText("\x80"), QString::fromStdU16String(u"\u20ac"));  // 1252
    EXPECT_EQ(app::DecodePreviewText(""), "");
}

TEST_F(PreviewTest, AFolderShowsItsEntries) {
    const auto folder = temp.path() / "tmp";
    std::filesystem::create_directories(folder / "test1");
    WriteBytes(folder / "txtbody.txt", "x");
    WriteBytes(folder / "b <&>.html", "x");
    window->NavigatePreview(folder);
    EXPECT_EQ(Pane()->ShownKind(), CExplorer1::Shown::kFolder);
    const QString text = Pane()->toPlainText();
    EXPECT_TRUE(text.contains("b <&>.html"));
    EXPECT_TRUE(text.contains("test1/"));
    EXPECT_LT(text.indexOf("b <&>.html"), text.indexOf("txtbody.txt"));
}

TEST_F(PreviewTest, AMissingFileIsSaidToBeMissing) {
    window->NavigatePreview(temp.path() / "nothing.html");
    EXPECT_EQ(Pane()->ShownKind(), CExplorer1::Shown::kMissing);
    EXPECT_TRUE(Pane()->toPlainText().contains("nothing.html"));
}

TEST_F(PreviewTest, TheStatusImagesAreAnimatedGifs) {
    for (const char* name : {"loading.gif", "done.gif", "wait.gif", "cancel.gif"}) {
        QMovie movie(QString::fromUtf8(EDB2MSG_SOURCE_DIR "/res/") + QString::fromUtf8(name));
        ASSERT_TRUE(movie.isValid()) << name;
        EXPECT_GT(movie.frameCount(), 1) << name;
        for (int i = 0; i < movie.frameCount(); ++i) {
            ASSERT_TRUE(movie.jumpToFrame(i)) << name << " frame " << i;
            EXPECT_FALSE(movie.currentImage().isNull()) << name << " frame " << i;
        }
    }
}

TEST_F(PreviewTest, AStatusPageShowsItsImageFromBesideIt) {
    const auto folder = temp.path() / "bin";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(EDB2MSG_SOURCE_DIR "/res/loading.gif", folder / "loading.gif");
    const auto page = folder / "ExportEdbtemp.html";
    WriteUtf16(page,
               u"<div align=\"center\"><p><img src=\"loading.gif\" width=\"100\" height=\"100\" "
               u"/></p><h1 >Recovery Started! Please wait for completion...</h1></div>");
    window->NavigatePreview(page);
    EXPECT_TRUE(Pane()->toPlainText().contains("Recovery Started! Please wait for completion..."));
    const QVariant image = Pane()->document()->resource(QTextDocument::ImageResource,
                                                        QUrl(QStringLiteral("loading.gif")));
    ASSERT_TRUE(image.isValid());
    const QPixmap pixmap = image.value<QPixmap>();
    EXPECT_EQ(pixmap.size(), QSize(100, 100));
}

TEST_F(PreviewTest, APageReadsResourcesOnlyFromRegularFilesInItsFolder) {
    const auto folder = temp.path() / "tmp";
    std::filesystem::create_directories(folder);
    QImage red(4, 3, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(QString::fromStdString((folder / "inline.png").string())));
    ASSERT_TRUE(red.save(QString::fromStdString((temp.path() / "outside.png").string())));
    const auto page = folder / "txtbody.html";
    WriteBytes(page,
               "<p>body</p><img src=\"inline.png\"><img src=\"../outside.png\">"
               "<img src=\"/dev/zero\"><img src=\"file:///dev/zero\"><img src=\"" +
                   (temp.path() / "outside.png").string() + "\">");
    window->NavigatePreview(page);  // returns: /dev/zero is never read
    EXPECT_TRUE(Pane()->toPlainText().contains("body"));
    auto resource = [&](const QString& name) {
        return Pane()->loadResource(QTextDocument::ImageResource, QUrl(name));
    };
    EXPECT_TRUE(resource("inline.png").isValid());
    EXPECT_FALSE(resource("../outside.png").isValid());
    EXPECT_FALSE(resource("/dev/zero").isValid());
    EXPECT_FALSE(resource("file:///dev/zero").isValid());
    EXPECT_FALSE(
        resource(QString::fromStdString((temp.path() / "outside.png").string())).isValid());
    EXPECT_FALSE(resource("https://example.com/tracker.png").isValid());
    EXPECT_FALSE(resource("missing.png").isValid());
}

TEST_F(PreviewTest, NoContextMenuAndCtrlAAndCtrlCCopyTheText) {
    ShowNormal();
    const auto body = temp.path() / "txtbody.txt";
    WriteBytes(body, "copy me\r\n");
    window->NavigatePreview(body);
    QWidget* viewport = Pane()->viewport();
    const QPoint inside = viewport->rect().center();
    QTest::mouseClick(viewport, Qt::RightButton, {}, inside);
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, inside, viewport->mapToGlobal(inside));
    QCoreApplication::sendEvent(viewport, &menuEvent);
    Settle();
    EXPECT_FALSE(AnyMenuVisible());
    EXPECT_EQ(Pane()->contextMenuPolicy(), Qt::NoContextMenu);

    QApplication::clipboard()->clear();
    Pane()->setFocus();
    QTest::keyClick(Pane(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(Pane(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "copy me\n");
}

}  // namespace
