// The message-file component driven by member id, the way the save run drives it.
#include "export/message_component.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>

#include "export/dispatch.h"
#include "msg_readback.h"
#include "platform/codepage.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using dispatch::DispatchError;
using dispatch::DispatchPtr;
using dispatch::InvokeKind;
using dispatch::Variant;
using msgtest::FindProperty;
using msgtest::ParsePropertyStream;
namespace member = msgfile::member;

std::u16string U16(std::string_view utf8) {
    return platform::Utf8ToUtf16(utf8);
}
std::u16string PathText(const fs::path& p) {
    return U16(p.string());
}

Variant Call(const DispatchPtr& object, std::int32_t dispid, InvokeKind kind,
             std::vector<Variant> args = {}) {
    return object->Invoke(dispid, kind, args);
}

void Put(const DispatchPtr& object, std::int32_t dispid, Variant value) {
    Call(object, dispid, InvokeKind::kPut, {std::move(value)});
}

DispatchPtr GetObject(const DispatchPtr& object, std::int32_t dispid, InvokeKind kind,
                      std::vector<Variant> args = {}) {
    return dispatch::ResultObject(Call(object, dispid, kind, std::move(args)), dispid);
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// 2 March 2009 14:07:09 UTC as an automation date.
constexpr double kDate = 39874.0 + (14 * 3600 + 7 * 60 + 9) / 86400.0;
constexpr std::uint64_t kDateFiletime = (1236002829ull + 11644473600ull) * 10000000ull;

// The session's set-up calls, as the save run makes them; returns the item collection.
DispatchPtr OpenItems(DispatchPtr& root) {
    msgfile::RegisterMessageFileComponent();
    root = dispatch::CreateObject(msgfile::kMessageFileProgId);
    if (!root)
        throw std::runtime_error("the component is not registered");
    Call(root, member::kLogon, InvokeKind::kMethod, std::vector<Variant>(6));
    const DispatchPtr info = GetObject(root, member::kSessionInfo, InvokeKind::kGet);
    const DispatchPtr folder =
        GetObject(root, member::kDefaultFolder, InvokeKind::kMethod, {Variant::Int(16)});
    return GetObject(folder, member::kItems, InvokeKind::kGet);
}

DispatchPtr NewMessage(const DispatchPtr& items) {
    return GetObject(items, member::kAddItem, InvokeKind::kMethod, {Variant::Int(0)});
}

void Save(const DispatchPtr& message, const fs::path& path) {
    Call(message, member::kSaveAs, InvokeKind::kMethod,
         {Variant::String(PathText(path)), Variant::Int(3)});
}

class MessageComponentTest : public ::testing::Test {
  protected:
    void SetUp() override { items_ = OpenItems(root_); }

    testing_support::TempDir dir_;
    DispatchPtr root_;
    DispatchPtr items_;
};

TEST_F(MessageComponentTest, TheWholeCallSequenceWritesAReadableFile) {
    const fs::path work = dir_ / "work";
    fs::create_directory(work);
    static constexpr char kPdf[] = "%PDF-1.4\0\x01\x02\xff binary";
    const std::string pdf(kPdf, sizeof kPdf - 1);
    WriteFile(work / "report.pdf", pdf);
    WriteFile(work / "notes.txt", "first line\nsecond line\n");

    const DispatchPtr message = NewMessage(items_);
    const std::u16string sender = u"Alice Martin;alice@example.com<Alice Martin;alice@example.com>";
    Put(message, member::kSender, Variant::String(sender));
    Put(message, member::kSentRepresenting, Variant::String(sender));
    Put(message, member::kSubject, Variant::String(u"RE: a/b"));
    Put(message, member::kRecipients,
        Variant::String(u"bob@example.com,Carol Jones< carol@example.com,"));
    Put(message, member::kDeliveryTime, Variant::Date(kDate));
    Put(message, member::kSubmitTime, Variant::Date(kDate));
    Put(message, member::kRead, Variant::Bool(true));
    Put(message, member::kSent, Variant::Bool(true));
    const DispatchPtr attachments = GetObject(message, member::kAttachments, InvokeKind::kGet);
    for (const char* name : {"report.pdf", "notes.txt"}) {
        const Variant added = Call(attachments, member::kAddAttachment, InvokeKind::kMethod,
                                   {Variant::String(PathText(work / name)), Variant::Missing(),
                                    Variant::Missing(), Variant::Missing()});
        EXPECT_EQ(added.type, dispatch::VarType::kDispatch);
    }
    // The contents were taken when they were added.
    fs::remove_all(work);
    Put(message, member::kPlainBody, Variant::String(u"Plain text body"));
    Put(message, member::kBodyFormat, Variant::Int(0));
    const fs::path file = dir_ / "RE- a-b41.msg";
    Save(message, file);

    const auto mail = msgtest::ReadBackWithMsgconvert(file);
    EXPECT_EQ(mail.from, "Alice Martin <alice@example.com>");
    EXPECT_EQ(mail.to, "bob@example.com <bob@example.com>, Carol Jones <carol@example.com>");
    EXPECT_EQ(mail.subject, "RE: a/b");
    EXPECT_EQ(mail.date, "Mon, 02 Mar 2009 14:07:09 +0000");
    ASSERT_TRUE(mail.textBody);
    EXPECT_EQ(*mail.textBody, "Plain text body");
    EXPECT_FALSE(mail.htmlBody);
    ASSERT_EQ(mail.attachments.size(), 2u);
    EXPECT_EQ(mail.attachments[0].name, "report.pdf");
    EXPECT_EQ(mail.attachments[0].bytes, pdf);
    EXPECT_EQ(mail.attachments[1].name, "notes.txt");
    EXPECT_EQ(mail.attachments[1].bytes, "first line\nsecond line\n");

    const auto ole = msgtest::ReadOle(file);
    const auto props = ParsePropertyStream(ole.Stream("__properties_version1.0"), 32);
    EXPECT_EQ(FindProperty(props, 0x0E070003)->value, 0x11u);  // read, sent, attachments
    EXPECT_EQ(FindProperty(props, 0x0E060040)->value, kDateFiletime);
    EXPECT_EQ(FindProperty(props, 0x00390040)->value, kDateFiletime);
    EXPECT_EQ(msgtest::Utf16StreamToUtf8(ole.Stream("__substg1.0_0042001F")), "Alice Martin");
    EXPECT_EQ(msgtest::Utf16StreamToUtf8(ole.Stream("__substg1.0_0E04001F")),
              "bob@example.com; Carol Jones");

    // The same message can be saved once more under another name.
    const fs::path again = dir_ / "again.msg";
    Save(message, again);
    EXPECT_EQ(msgtest::ReadBackWithMsgconvert(again).attachments.size(), 2u);
}

TEST_F(MessageComponentTest, HtmlBodyAndPlainSenderWithoutRecipients) {
    const DispatchPtr message = NewMessage(items_);
    Put(message, member::kSender, Variant::String(u"Smith  John"));
    Put(message, member::kSentRepresenting, Variant::String(u"Smith  John"));
    Put(message, member::kSubject,
        Variant::String(U16("Gr\xC3\xBC\xC3\x9F"
                            "e")));
    Put(message, member::kRecipients, Variant::String(u"None"));
    Put(message, member::kDeliveryTime, Variant::Date(0.0));
    Put(message, member::kSubmitTime, Variant::Date(0.0));
    Put(message, member::kRead, Variant::Bool(true));
    Put(message, member::kSent, Variant::Bool(true));
    const std::u16string html = U16("<p>caf\xC3\xA9 \xE2\x80\x94 \xE6\x97\xA5\xE6\x9C\xAC</p>");
    Put(message, member::kHtmlBody, Variant::String(html));
    Put(message, member::kBodyFormat, Variant::Int(2));
    const fs::path file = dir_ / "html.msg";
    Save(message, file);

    const auto mail = msgtest::ReadBackWithMsgconvert(file);
    EXPECT_EQ(mail.from, "Smith  John");
    EXPECT_EQ(mail.to, "");
    EXPECT_EQ(mail.subject,
              "Gr\xC3\xBC\xC3\x9F"
              "e");
    EXPECT_EQ(mail.date, "Sat, 30 Dec 1899 00:00:00 +0000");
    ASSERT_TRUE(mail.htmlBody);
    EXPECT_EQ(*mail.htmlBody, platform::Utf16ToUtf8(html));
    EXPECT_FALSE(mail.textBody);

    const auto ole = msgtest::ReadOle(file);
    EXPECT_EQ(ole.Find("__recip_version1.0_#00000000"), nullptr);
    EXPECT_EQ(ole.Find("__substg1.0_0C1F001F"), nullptr);
}

TEST_F(MessageComponentTest, BodyFormatPicksTheBodyAndFlagsFollowThePuts) {
    const DispatchPtr message = NewMessage(items_);
    Put(message, member::kPlainBody, Variant::String(u"plain"));
    Put(message, member::kHtmlBody, Variant::String(u"<b>html</b>"));
    Put(message, member::kBodyFormat, Variant::Int(2));
    const fs::path html = dir_ / "html.msg";
    Save(message, html);
    auto ole = msgtest::ReadOle(html);
    EXPECT_EQ(ole.Find("__substg1.0_1000001F"), nullptr);
    EXPECT_EQ(ole.Stream("__substg1.0_10130102"), "<b>html</b>");
    // Neither flag was put: a new message is unread and unsent.
    auto props = ParsePropertyStream(ole.Stream("__properties_version1.0"), 32);
    EXPECT_EQ(FindProperty(props, 0x0E070003)->value, 0x08u);

    Put(message, member::kBodyFormat, Variant::Int(0));
    Put(message, member::kRead, Variant::Bool(true));
    const fs::path plain = dir_ / "plain.msg";
    Save(message, plain);
    ole = msgtest::ReadOle(plain);
    EXPECT_EQ(msgtest::Utf16StreamToUtf8(ole.Stream("__substg1.0_1000001F")), "plain");
    EXPECT_EQ(ole.Find("__substg1.0_10130102"), nullptr);
    props = ParsePropertyStream(ole.Stream("__properties_version1.0"), 32);
    EXPECT_EQ(FindProperty(props, 0x0E070003)->value, 0x09u);

    // An item without a body goes out as an empty HTML body.
    const DispatchPtr bodiless = NewMessage(items_);
    Put(bodiless, member::kSubject, Variant::String(u"no body"));
    Put(bodiless, member::kHtmlBody, Variant::String(u""));
    Put(bodiless, member::kBodyFormat, Variant::Int(2));
    const fs::path empty = dir_ / "empty.msg";
    Save(bodiless, empty);
    EXPECT_EQ(msgtest::ReadOle(empty).Stream("__substg1.0_10130102"), "");
    const auto mail = msgtest::ReadBackWithMsgconvert(empty);
    EXPECT_EQ(mail.subject, "no body");
    EXPECT_EQ(mail.htmlBody.value_or("") + mail.textBody.value_or(""), "");
}

TEST_F(MessageComponentTest, OneSenderPutFillsBothSenders) {
    const DispatchPtr message = NewMessage(items_);
    Put(message, member::kSender, Variant::String(u"bob@example.com<bob@example.com>"));
    const fs::path file = dir_ / "one.msg";
    Save(message, file);
    const auto ole = msgtest::ReadOle(file);
    EXPECT_EQ(msgtest::Utf16StreamToUtf8(ole.Stream("__substg1.0_0C1A001F")), "bob@example.com");
    EXPECT_EQ(msgtest::Utf16StreamToUtf8(ole.Stream("__substg1.0_0042001F")), "bob@example.com");
    EXPECT_EQ(msgtest::Utf16StreamToUtf8(ole.Stream("__substg1.0_0065001F")), "bob@example.com");
}

TEST_F(MessageComponentTest, WrongCallsRaiseDispatchErrors) {
    const DispatchPtr message = NewMessage(items_);
    const DispatchPtr attachments = GetObject(message, member::kAttachments, InvokeKind::kGet);
    const DispatchPtr folder =
        GetObject(root_, member::kDefaultFolder, InvokeKind::kMethod, {Variant::Int(16)});

    // Unknown members.
    EXPECT_THROW(Call(root_, 5, InvokeKind::kMethod), DispatchError);
    EXPECT_THROW(Call(folder, 18, InvokeKind::kGet), DispatchError);
    EXPECT_THROW(Call(items_, 5, InvokeKind::kMethod), DispatchError);
    EXPECT_THROW(Put(message, 99, Variant::String(u"x")), DispatchError);
    EXPECT_THROW(Call(attachments, 100, InvokeKind::kMethod), DispatchError);
    const DispatchPtr info = GetObject(root_, member::kSessionInfo, InvokeKind::kGet);
    EXPECT_THROW(Call(info, 0, InvokeKind::kGet), DispatchError);

    // Wrong kinds of call.
    EXPECT_THROW(Call(message, member::kSubject, InvokeKind::kGet), DispatchError);
    EXPECT_THROW(Call(message, member::kSubject, InvokeKind::kMethod, {Variant::String(u"x")}),
                 DispatchError);
    EXPECT_THROW(Put(message, member::kAttachments, Variant::String(u"x")), DispatchError);
    EXPECT_THROW(Call(root_, member::kLogon, InvokeKind::kGet), DispatchError);
    EXPECT_THROW(Call(message, member::kSaveAs, InvokeKind::kPut,
                      {Variant::String(PathText(dir_ / "x.msg"))}),
                 DispatchError);

    // Wrong argument types and values.
    EXPECT_THROW(Put(message, member::kSubject, Variant::Int(1)), DispatchError);
    EXPECT_THROW(Put(message, member::kRecipients, Variant::Date(kDate)), DispatchError);
    EXPECT_THROW(Put(message, member::kDeliveryTime, Variant::String(u"Mar 02, 2009")),
                 DispatchError);
    EXPECT_THROW(
        Put(message, member::kSubmitTime, Variant::Date(std::numeric_limits<double>::quiet_NaN())),
        DispatchError);
    EXPECT_THROW(Put(message, member::kRead, Variant::Int(1)), DispatchError);
    EXPECT_THROW(Put(message, member::kBodyFormat, Variant::Int(1)), DispatchError);
    EXPECT_THROW(Put(message, member::kBodyFormat, Variant::String(u"0")), DispatchError);
    EXPECT_THROW(Call(root_, member::kDefaultFolder, InvokeKind::kMethod, {Variant::Int(6)}),
                 DispatchError);
    EXPECT_THROW(Call(root_, member::kDefaultFolder, InvokeKind::kMethod, {Variant::String(u"16")}),
                 DispatchError);
    EXPECT_THROW(Call(root_, member::kLogon, InvokeKind::kMethod, {Variant::String(u"Outlook")}),
                 DispatchError);
    EXPECT_THROW(Call(items_, member::kAddItem, InvokeKind::kMethod, {Variant::Int(1)}),
                 DispatchError);
    EXPECT_THROW(Call(message, member::kSaveAs, InvokeKind::kMethod,
                      {Variant::String(PathText(dir_ / "x.msg")), Variant::Int(9)}),
                 DispatchError);
    EXPECT_THROW(Call(attachments, member::kAddAttachment, InvokeKind::kMethod, {Variant::Int(1)}),
                 DispatchError);

    // Wrong argument counts.
    EXPECT_THROW(Call(message, member::kSubject, InvokeKind::kPut,
                      {Variant::String(u"a"), Variant::String(u"b")}),
                 DispatchError);
    EXPECT_THROW(Call(message, member::kSubject, InvokeKind::kPut), DispatchError);
    EXPECT_THROW(Call(message, member::kSaveAs, InvokeKind::kMethod), DispatchError);
    EXPECT_THROW(Call(root_, member::kLogon, InvokeKind::kMethod, std::vector<Variant>(7)),
                 DispatchError);
    EXPECT_THROW(Call(root_, member::kSessionInfo, InvokeKind::kGet, {Variant::Int(0)}),
                 DispatchError);

    EXPECT_TRUE(fs::is_empty(dir_.path()));
}

TEST_F(MessageComponentTest, TheTargetFolderNeedsALogon) {
    const DispatchPtr fresh = dispatch::CreateObject(msgfile::kMessageFileProgId);
    ASSERT_TRUE(fresh);
    EXPECT_THROW(Call(fresh, member::kDefaultFolder, InvokeKind::kMethod, {Variant::Int(16)}),
                 DispatchError);
    Call(fresh, member::kLogon, InvokeKind::kMethod, std::vector<Variant>(6));
    EXPECT_NO_THROW(Call(fresh, member::kDefaultFolder, InvokeKind::kMethod, {Variant::Int(16)}));
}

TEST_F(MessageComponentTest, FailedAttachmentsAndSavesLeaveNothingBehind) {
    const DispatchPtr message = NewMessage(items_);
    Put(message, member::kSubject, Variant::String(u"subject"));
    const DispatchPtr attachments = GetObject(message, member::kAttachments, InvokeKind::kGet);
    const auto add = [&](const fs::path& p) {
        Call(attachments, member::kAddAttachment, InvokeKind::kMethod,
             {Variant::String(PathText(p)), Variant::Missing(), Variant::Missing(),
              Variant::Missing()});
    };
    EXPECT_THROW(add(dir_ / "missing.doc"), DispatchError);
    EXPECT_THROW(add(dir_.path()), DispatchError);  // a folder
    try {
        add(dir_ / "missing.doc");
    } catch (const DispatchError& e) {
        EXPECT_EQ(e.dispid(), member::kAddAttachment);
        EXPECT_NE(std::string(e.what()).find("missing.doc"), std::string::npos) << e.what();
    }

    // An existing target keeps its content; the message still saves elsewhere.
    const fs::path taken = dir_ / "taken.msg";
    WriteFile(taken, "keep me");
    EXPECT_THROW(Save(message, taken), DispatchError);
    EXPECT_EQ(ReadFile(taken), "keep me");
    EXPECT_THROW(Save(message, dir_ / "no folder" / "x.msg"), DispatchError);

    const fs::path file = dir_ / "saved.msg";
    Save(message, file);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"saved.msg", "taken.msg"}));
    const auto mail = msgtest::ReadBackWithMsgconvert(file);
    EXPECT_EQ(mail.subject, "subject");
    EXPECT_TRUE(mail.attachments.empty());
}

TEST(MessageComponentTexts, SenderTexts) {
    struct Case {
        std::u16string text;
        std::u16string name;
        std::optional<std::u16string> address;
    };
    const std::vector<Case> cases = {
        {u"Smith  John", u"Smith  John", std::nullopt},
        {u"DeptSales info", u"DeptSales info", std::nullopt},
        {u"Alice Martin;alice@example.com<Alice Martin;alice@example.com>", u"Alice Martin",
         u"alice@example.com"},
        {u"alice@example.com<alice@example.com>", u"alice@example.com", u"alice@example.com"},
        {u"John Doe;John Doe<john@example.com><John Doe;John Doe<john@example.com>>", u"John Doe",
         u"john@example.com"},
        {u"Smith;", u"Smith", std::nullopt},
        {u"trailing at@", u"trailing at@", std::nullopt},
        {u"", u"", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto parsed = msgfile::ParseSenderText(c.text);
        EXPECT_EQ(parsed.name, c.name) << platform::Utf16ToUtf8(c.text);
        EXPECT_EQ(parsed.address, c.address) << platform::Utf16ToUtf8(c.text);
    }
}

TEST(MessageComponentTexts, RecipientTexts) {
    using msgfile::ParseRecipientsText;
    const auto two = ParseRecipientsText(u"bob@example.com,carol@example.com,");
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].displayName, u"bob@example.com");
    EXPECT_EQ(two[0].address, u"bob@example.com");
    EXPECT_EQ(two[1].address, u"carol@example.com");

    const auto named = ParseRecipientsText(u"first last< user@domain.tld,");
    ASSERT_EQ(named.size(), 1u);
    EXPECT_EQ(named[0].displayName, u"first last");
    EXPECT_EQ(named[0].address, u"user@domain.tld");

    const auto mixed = ParseRecipientsText(u" a@example.com; B <b@example.com> ,, ;");
    ASSERT_EQ(mixed.size(), 2u);
    EXPECT_EQ(mixed[1].displayName, u"B");
    EXPECT_EQ(mixed[1].address, u"b@example.com");

    EXPECT_TRUE(ParseRecipientsText(u"None").empty());
    EXPECT_TRUE(ParseRecipientsText(u"").empty());
    EXPECT_TRUE(ParseRecipientsText(u" , ;").empty());
}

}  // namespace
