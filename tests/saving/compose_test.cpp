// Composing one message: sender and date texts, the order of the calls, defaults, bodies
// and attachments from the work folder.
#include "export/compose.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_dir.h"
#include "tests/saving/recording_component.h"

namespace {

using dispatch::InvokeKind;
using dispatch::VarType;
namespace m = msgexport::member;

TEST(SenderText, AddressesAreRepeatedInBracketsAndOtherTextsLoseSlashesAndBrackets) {
    EXPECT_EQ(msgexport::SenderText(u"Smith, John"), u"Smith  John");
    EXPECT_EQ(msgexport::SenderText(u"Ann;ann@example.com"),
              u"Ann;ann@example.com<Ann;ann@example.com>");
    EXPECT_EQ(msgexport::SenderText(u"<a@b>, c"), u"<a@b>  c<<a@b>  c>");
    EXPECT_EQ(msgexport::SenderText(u"x/y<z>@"), u"xyz@") << "an at sign at the end is no address";
    EXPECT_EQ(msgexport::SenderText(u"Dept/Sales <info>"), u"DeptSales info");
    EXPECT_EQ(msgexport::SenderText(u""), u"");
}

TEST(DateTextToAutomationDate, ReadsTheListDateAndGivesZeroForAnythingElse) {
    // 39877 days from 30 December 1899 to 5 March 2009, and 14:07:09 of a day.
    EXPECT_DOUBLE_EQ(msgexport::DateTextToAutomationDate(u"Mar 05, 2009 14:07:09"),
                     39877.0 + (14 * 3600 + 7 * 60 + 9) / 86400.0);
    EXPECT_DOUBLE_EQ(msgexport::DateTextToAutomationDate(u"Jan 01, 1900 00:00:00"), 2.0);
    EXPECT_DOUBLE_EQ(msgexport::DateTextToAutomationDate(u"Dec 30, 1899 12:00:00"), 0.5);
    EXPECT_DOUBLE_EQ(msgexport::DateTextToAutomationDate(u"Dec 29, 1899 06:00:00"), -1.25);
    EXPECT_DOUBLE_EQ(msgexport::DateTextToAutomationDate(u"Feb 29, 2000 23:59:59"),
                     36585.0 + 86399 / 86400.0);
    for (const char16_t* bad :
         {u"Unknown", u"", u"Feb 29, 2001 00:00:00", u"Mar 32, 2009 14:07:09",
          u"Mar 05, 2009 24:00:00", u"Mar 05, 2009", u"Mar 05, 2009 14:07:09 extra",
          u"Foo 05, 2009 14:07:09", u"(0x40e1af80 0x00000000)", u"Mar 05, 20099 14:07:09"}) {
        EXPECT_EQ(msgexport::DateTextToAutomationDate(bad), 0.0) << std::u16string(bad).size();
    }
}

class ComposeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directory(work_);
        message_ = std::make_shared<recording::Object>(journal_, nullptr);
    }
    void Touch(const std::string& name) { std::ofstream(work_ / name) << name; }

    // The puts made, as (member, value).
    std::vector<std::pair<std::int32_t, dispatch::Variant>> Puts() const {
        std::vector<std::pair<std::int32_t, dispatch::Variant>> out;
        for (const auto& c : journal_->calls) {
            if (c.kind == InvokeKind::kPut) {
                out.emplace_back(c.dispid, c.args.at(0));
            }
        }
        return out;
    }
    // The paths handed to the attachment collection.
    std::vector<std::filesystem::path> Attached() const {
        std::vector<std::filesystem::path> out;
        for (const auto& c : journal_->calls) {
            if (c.dispid == m::kAddAttachment) {
                EXPECT_EQ(c.args.size(), 4u);
                EXPECT_EQ(c.args.at(1).type, VarType::kError);
                out.emplace_back(c.args.at(0).str);
            }
        }
        return out;
    }
    // The display names handed along with them.
    std::vector<std::u16string> AttachedNames() const {
        std::vector<std::u16string> out;
        for (const auto& c : journal_->calls) {
            if (c.dispid == m::kAddAttachment && c.args.size() == 4) {
                EXPECT_EQ(c.args.at(3).type, VarType::kBStr);
                out.push_back(c.args.at(3).str);
            }
        }
        return out;
    }

    testing_support::TempDir dir_;
    std::filesystem::path work_ = dir_ / "work";
    std::shared_ptr<recording::Journal> journal_ = std::make_shared<recording::Journal>();
    std::shared_ptr<recording::Object> message_;
};

TEST_F(ComposeTest, SetsThePropertiesInOrder) {
    Touch("a.doc");
    content::MailDetailEntry entry;
    entry.messageId = u"1a";
    entry.bodyKind = content::kKindText;
    entry.recipients = u"bob@example.com,";
    entry.attachmentNames = u"a.doc;";
    entry.attachments = {{u"a.doc", u"a.doc"}};
    entry.from = u"Smith, John";
    entry.subject = u"Re: a/b";
    entry.date = u"Mar 05, 2009 14:07:09";
    std::vector<content::BodyPartEntry> parts = {{u"1a", u"Hello ", content::kKindText, 0},
                                                 {u"2b", u"other", content::kKindText, 0},
                                                 {u"1a", u"world", content::kKindText, 1}};
    msgexport::ComposeMessage(*message_, entry, parts, work_);

    EXPECT_EQ(journal_->Members(),
              (std::vector<std::int32_t>{m::kSender, m::kSentRepresenting, m::kSubject,
                                         m::kRecipients, m::kDeliveryTime, m::kSubmitTime, m::kRead,
                                         m::kSent, m::kAttachments, m::kAddAttachment,
                                         m::kPlainBody, m::kBodyFormat}));
    const auto puts = Puts();
    EXPECT_EQ(puts[0].second.str, u"Smith  John");
    EXPECT_EQ(puts[1].second.str, u"Smith  John");
    EXPECT_EQ(puts[2].second.str, u"Re: a/b") << "the subject goes in unchanged";
    EXPECT_EQ(puts[3].second.str, u"bob@example.com,");
    EXPECT_EQ(puts[4].second.type, VarType::kDate);
    EXPECT_DOUBLE_EQ(puts[5].second.date, puts[4].second.date);
    EXPECT_GT(puts[4].second.date, 39877.0);
    EXPECT_TRUE(puts[6].second.boolean && puts[7].second.boolean);
    EXPECT_EQ(puts[8].second.str, u"Hello world");
    EXPECT_EQ(puts[9].second.i4, 0);
    EXPECT_EQ(Attached(), std::vector<std::filesystem::path>{work_ / "a.doc"});
    ASSERT_EQ(parts.size(), 1u) << "another item's part stays for that item";
    EXPECT_EQ(parts[0].messageKey, u"2b");
}

TEST_F(ComposeTest, AbsentTextsTakeTheirDefaultsAndEmptyBodiesGoAsHtml) {
    content::MailDetailEntry entry;
    entry.messageId = u"1";
    entry.bodyKind = content::kKindEmpty;
    entry.date = u"Unknown";
    std::vector<content::BodyPartEntry> parts;
    msgexport::ComposeMessage(*message_, entry, parts, work_);
    const auto puts = Puts();
    ASSERT_EQ(puts.size(), 10u) << "no attachment collection is fetched without names";
    EXPECT_EQ(puts[2].second.str, u"Unknown <Unknown>");
    EXPECT_EQ(puts[3].second.str, u"None");
    EXPECT_EQ(puts[4].second.date, 0.0);
    EXPECT_EQ(puts[8].first, m::kHtmlBody);
    EXPECT_EQ(puts[8].second.str, u"");
    EXPECT_EQ(puts[9].second.i4, 2);
}

TEST_F(ComposeTest, LongBodiesAreComposedWhole) {
    content::MailDetailEntry entry;
    entry.messageId = u"1";
    entry.bodyKind = content::kKindHtml;
    std::vector<content::BodyPartEntry> parts;
    std::u16string expected;
    for (char16_t c : {u'a', u'b', u'c'}) {
        parts.push_back({u"1", std::u16string(31990, c), content::kKindHtml, 0});
        expected += parts.back().text;
    }
    parts.push_back({u"1", std::u16string(64000, u'd'), content::kKindHtml, 3});
    expected += parts.back().text;
    msgexport::ComposeMessage(*message_, entry, parts, work_);
    const auto puts = Puts();
    EXPECT_EQ(puts[8].second.str.size(), expected.size());
    EXPECT_TRUE(puts[8].second.str == expected);
    EXPECT_TRUE(parts.empty());
}

// The content comes from the attachment's work file, made safe; the attachment keeps the name
// the store holds.
TEST_F(ComposeTest, AttachesTheListedFilesThatExistInTheWorkFolderUnderTheirStoredNames) {
    Touch("a.doc");
    Touch("b.pdf");
    Touch("a_b.txt");
    Touch("_angle_ _pipe.txt");
    std::ofstream(dir_ / "outside") << "not in the work folder";
    // Each work file named as the stored name: it is made safe again on the way in.
    std::vector<content::MailDetailEntry::Attachment> files;
    for (const char16_t* name : {u"a.doc", u"missing.txt", u"b.pdf", u"a.doc", u"../outside",
                                 u"a:b.txt", u"<angle> |pipe.txt", u""}) {
        files.push_back({name, name});
    }
    msgexport::AddAttachmentFiles(*message_, files, work_);
    EXPECT_EQ(Attached(),
              (std::vector<std::filesystem::path>{work_ / "a.doc", work_ / "b.pdf", work_ / "a.doc",
                                                  work_ / "a_b.txt", work_ / "_angle_ _pipe.txt"}));
    EXPECT_EQ(AttachedNames(), (std::vector<std::u16string>{u"a.doc", u"b.pdf", u"a.doc",
                                                            u"a:b.txt", u"<angle> |pipe.txt"}));
}

TEST_F(ComposeTest, AFileTheComponentRefusesIsLeftOut) {
    Touch("a.doc");
    Touch("b.pdf");
    journal_->failOnce.insert(m::kAddAttachment);
    EXPECT_NO_THROW(msgexport::AddAttachmentFiles(
        *message_, {{u"a.doc", u"a.doc"}, {u"b.pdf", u"b.pdf"}}, work_));
    EXPECT_EQ(Attached().size(), 2u) << "the refusal of the first does not stop the second";
}

// Recipients go to the component with the names the store gives them; an item with a plain
// text and an HTML body gives each body only its own parts.
TEST_F(ComposeTest, RecipientsKeepTheirNamesAndEachBodyItsOwnParts) {
    content::MailDetailEntry entry;
    entry.messageId = u"1";
    entry.bodyKind = content::kKindHtml;
    entry.recipients = u"ann@example.com,bob@example.com,";
    entry.recipientList = {{u"Lee, Ann <HR>", u"ann@example.com"}, {u"", u"bob@example.com"}};
    std::vector<content::BodyPartEntry> parts = {{u"1", u"plain", content::kKindText, 0},
                                                 {u"1", u"<p>html</p>", content::kKindHtml, 0}};
    msgexport::ComposeMessage(*message_, entry, parts, work_);
    const auto puts = Puts();
    EXPECT_EQ(puts[3].second.str, u"Lee  Ann  HR <ann@example.com>,bob@example.com,");
    EXPECT_EQ(puts[8].first, m::kHtmlBody);
    EXPECT_EQ(puts[8].second.str, u"<p>html</p>");
    EXPECT_TRUE(parts.empty());
}

}  // namespace
