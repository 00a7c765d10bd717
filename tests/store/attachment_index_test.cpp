// The attachment lookup by key against a search for every key in an item's key text.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "store/model.h"

namespace {

std::vector<std::size_t> SearchEveryKey(const store::StoreModel& model, std::u16string_view keys) {
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < model.attachments.size(); ++i) {
        if (keys.find(model.attachments[i].key) != std::u16string_view::npos) {
            found.push_back(i);
        }
    }
    return found;
}

std::u16string Hex(std::uint64_t v) {
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    std::u16string s;
    do {
        s.insert(s.begin(), kDigits[v % 16]);
        v /= 16;
    } while (v != 0);
    return s;
}

TEST(AttachmentIndex, FindsWhatASearchForEveryKeyFinds) {
    std::mt19937_64 random(7);
    store::StoreModel model;
    // Keys as the scan makes them ("0" and the id in hex), of several lengths, some shared by
    // two entries, one made of an id that was missing, and keys that are parts of others.
    std::vector<std::u16string> keys = {u"0",    u"0a",  u"0abc",
                                        u"0abc", u"0bc", u"01000000000a00001"};
    for (int i = 0; i < 300; ++i) {
        keys.push_back(u"0" + Hex(0x0100000000a00000ULL + random() % 4096));
    }
    for (std::size_t i = 0; i < keys.size(); ++i) {
        model.AddAttachment({keys[i], u"file" + Hex(i), static_cast<std::int32_t>(i)});
    }
    ASSERT_EQ(model.attachments.size(), keys.size());

    std::vector<std::u16string> texts = {u"", u"0", u"zzz", u"0abc", u"00abcd", u"0bc0a"};
    for (int i = 0; i < 200; ++i) {
        // An item's key text: the hex of its "N67b3" bytes, a count and the attachment ids.
        std::u16string text = u"02000000";
        for (int n = 0; n < 1 + i % 3; ++n) {
            text += u"0" + Hex(0x0100000000a00000ULL + random() % 4096);
        }
        texts.push_back(text);
    }
    // Before the lookup is sorted, after it, and with keys added since.
    for (const std::u16string& text : texts) {
        EXPECT_EQ(model.AttachmentsNamedIn(text), SearchEveryKey(model, text));
    }
    model.SealAttachments();
    model.AddAttachment({u"0abc", u"after", 900});
    model.AddAttachment({u"0ff", u"after", 901});
    for (const std::u16string& text : texts) {
        EXPECT_EQ(model.AttachmentsNamedIn(text), SearchEveryKey(model, text));
    }
    model.SealAttachments();
    EXPECT_EQ(model.AttachmentsNamedIn(u"0ff0abc"), SearchEveryKey(model, u"0ff0abc"));
    // 0, 0a, 0ff and 0abc three times: 0ff and one 0abc were added after the first seal.
    EXPECT_EQ(model.AttachmentsNamedIn(u"0ff0abc").size(), 6U);
    // Entries added past the index are found as well.
    model.attachments.push_back({u"0zz", u"late", 999});
    const std::vector<std::size_t> withLate = {0, model.attachments.size() - 1};
    ASSERT_EQ(model.attachments[0].key, u"0");
    EXPECT_EQ(model.AttachmentsNamedIn(u"a0zzb"), withLate);
    EXPECT_EQ(model.AttachmentsNamedIn(u"0abc"), SearchEveryKey(model, u"0abc"));
}

}  // namespace
