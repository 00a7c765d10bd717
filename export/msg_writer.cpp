#include "export/msg_writer.h"

#include <fcntl.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/codepage.h"

namespace msgfile {

namespace {

namespace fs = std::filesystem;

// Property types.
constexpr std::uint16_t kTypeInt32 = 0x0003;
constexpr std::uint16_t kTypeDouble = 0x0005;
constexpr std::uint16_t kTypeBoolean = 0x000B;
constexpr std::uint16_t kTypeTime = 0x0040;
constexpr std::uint16_t kTypeUnicode = 0x001F;
constexpr std::uint16_t kTypeBinary = 0x0102;

// Property ids.
constexpr std::uint16_t kMessageClass = 0x001A;
constexpr std::uint16_t kSubject = 0x0037;
constexpr std::uint16_t kClientSubmitTime = 0x0039;
constexpr std::uint16_t kSubjectPrefix = 0x003D;
constexpr std::uint16_t kSentRepresentingName = 0x0042;
constexpr std::uint16_t kSentRepresentingAddrType = 0x0064;
constexpr std::uint16_t kSentRepresentingEmail = 0x0065;
constexpr std::uint16_t kConversationTopic = 0x0070;
constexpr std::uint16_t kRecipientType = 0x0C15;
constexpr std::uint16_t kSenderName = 0x0C1A;
constexpr std::uint16_t kSenderAddrType = 0x0C1E;
constexpr std::uint16_t kSenderEmail = 0x0C1F;
constexpr std::uint16_t kDisplayBcc = 0x0E02;
constexpr std::uint16_t kDisplayCc = 0x0E03;
constexpr std::uint16_t kDisplayTo = 0x0E04;
constexpr std::uint16_t kMessageDeliveryTime = 0x0E06;
constexpr std::uint16_t kMessageFlags = 0x0E07;
constexpr std::uint16_t kHasAttachments = 0x0E1B;
constexpr std::uint16_t kNormalizedSubject = 0x0E1D;
constexpr std::uint16_t kAttachSize = 0x0E20;
constexpr std::uint16_t kAttachNumber = 0x0E21;
constexpr std::uint16_t kObjectType = 0x0FFE;
constexpr std::uint16_t kBody = 0x1000;
constexpr std::uint16_t kHtml = 0x1013;
constexpr std::uint16_t kRowId = 0x3000;
constexpr std::uint16_t kDisplayName = 0x3001;
constexpr std::uint16_t kAddrType = 0x3002;
constexpr std::uint16_t kEmailAddress = 0x3003;
constexpr std::uint16_t kStoreSupportMask = 0x340D;
constexpr std::uint16_t kAttachDataBinary = 0x3701;
constexpr std::uint16_t kAttachExtension = 0x3703;
constexpr std::uint16_t kAttachFileName = 0x3704;
constexpr std::uint16_t kAttachMethod = 0x3705;
constexpr std::uint16_t kAttachLongFileName = 0x3707;
constexpr std::uint16_t kRenderingPosition = 0x370B;
constexpr std::uint16_t kAttachMimeTag = 0x370E;
constexpr std::uint16_t kDisplayType = 0x3900;
constexpr std::uint16_t kSmtpAddress = 0x39FE;
constexpr std::uint16_t kInternetCodepage = 0x3FDE;
constexpr std::uint16_t kSenderSmtpAddress = 0x5D01;
constexpr std::uint16_t kSentRepresentingSmtpAddress = 0x5D02;

constexpr std::uint32_t kMsgFlagRead = 0x01;
constexpr std::uint32_t kMsgFlagUnsent = 0x08;
constexpr std::uint32_t kMsgFlagHasAttach = 0x10;
constexpr std::uint32_t kStoreUnicodeOk = 0x00040000;
constexpr std::uint32_t kCodepageUtf8 = 65001;
constexpr std::uint32_t kObjectTypeMailUser = 6;
constexpr std::uint32_t kObjectTypeAttachment = 7;
constexpr std::uint32_t kAttachByValue = 1;
constexpr std::uint32_t kRecipientTo = 1;
// Readable and writable.
constexpr std::uint32_t kPropertyFlags = 6;

constexpr std::size_t kTopHeaderBytes = 32;
constexpr std::size_t kSubHeaderBytes = 8;

// The longest file name the file system takes, in bytes.
constexpr std::size_t kMaxNameBytes = 255;

class WriteFailure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

void PutLe16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>((v >> shift) & 0xFF));
}

void PutLe64(std::vector<std::uint8_t>& out, std::uint64_t v) {
    for (int shift = 0; shift < 64; shift += 8)
        out.push_back(static_cast<std::uint8_t>((v >> shift) & 0xFF));
}

std::vector<std::uint8_t> Utf16LeBytes(std::u16string_view text) {
    std::vector<std::uint8_t> out;
    out.reserve(text.size() * 2);
    for (char16_t c : text)
        PutLe16(out, static_cast<std::uint16_t>(c));
    return out;
}

struct Property {
    std::uint32_t tag = 0;
    std::uint64_t fixed = 0;          // value of a fixed-size type
    std::vector<std::uint8_t> bytes;  // stream of a variable-size type

    std::uint16_t type() const { return static_cast<std::uint16_t>(tag & 0xFFFF); }
    std::uint16_t id() const { return static_cast<std::uint16_t>(tag >> 16); }
    bool variable() const { return type() == kTypeUnicode || type() == kTypeBinary; }
};

// The properties of one storage (the message, a recipient or an attachment).
class PropertySet {
  public:
    void Int32(std::uint16_t id, std::uint32_t value) { AddFixed(id, kTypeInt32, value); }
    void Boolean(std::uint16_t id, bool value) { AddFixed(id, kTypeBoolean, value ? 1u : 0u); }
    void Time(std::uint16_t id, std::uint64_t filetime) { AddFixed(id, kTypeTime, filetime); }
    void Unicode(std::uint16_t id, std::u16string_view text) {
        Add(id, kTypeUnicode, Utf16LeBytes(text));
    }
    void Binary(std::uint16_t id, std::span<const std::uint8_t> data) {
        Add(id, kTypeBinary, std::vector<std::uint8_t>(data.begin(), data.end()));
    }
    void Value(std::uint16_t id, const MsgValue& value) {
        if (const auto* v = std::get_if<std::int32_t>(&value))
            Int32(id, static_cast<std::uint32_t>(*v));
        else if (const auto* b = std::get_if<bool>(&value))
            Boolean(id, *b);
        else if (const auto* d = std::get_if<double>(&value))
            AddFixed(id, kTypeDouble, std::bit_cast<std::uint64_t>(*d));
        else if (const auto* t = std::get_if<MsgTime>(&value))
            Time(id, t->filetime);
        else
            Unicode(id, std::get<std::u16string>(value));
    }
    const std::vector<Property>& properties() const { return properties_; }

  private:
    void AddFixed(std::uint16_t id, std::uint16_t type, std::uint64_t value) {
        Property p;
        p.tag = (static_cast<std::uint32_t>(id) << 16) | type;
        p.fixed = value;
        properties_.push_back(std::move(p));
    }
    void Add(std::uint16_t id, std::uint16_t type, std::vector<std::uint8_t> bytes) {
        if (bytes.size() > kMaxStreamBytes - 2) {
            char tag[16];
            std::snprintf(tag, sizeof tag, "%04X%04X", id, type);
            throw WriteFailure(std::string("property ") + tag + " holds " +
                               std::to_string(bytes.size()) +
                               " bytes, more than a message file stream can take");
        }
        Property p;
        p.tag = (static_cast<std::uint32_t>(id) << 16) | type;
        p.bytes = std::move(bytes);
        properties_.push_back(std::move(p));
    }

    std::vector<Property> properties_;
};

// The property stream: the header, then one 16-byte entry per property.
std::vector<std::uint8_t> PropertyStream(const PropertySet& set, std::vector<std::uint8_t> header) {
    std::vector<std::uint8_t> out = std::move(header);
    for (const Property& p : set.properties()) {
        PutLe32(out, p.tag);
        PutLe32(out, kPropertyFlags);
        if (p.variable()) {
            const auto size = p.bytes.size() + (p.type() == kTypeUnicode ? 2 : 0);
            PutLe32(out, static_cast<std::uint32_t>(size));
            PutLe32(out, 0);
        } else {
            PutLe64(out, p.fixed);
        }
    }
    return out;
}

struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object)
            g_object_unref(object);
    }
};
template <typename T>
using GsfPtr = std::unique_ptr<T, GObjectUnref>;

std::string GsfErrorText(GsfOutput* output) {
    const GError* error = output ? gsf_output_error(output) : nullptr;
    return error && error->message ? std::string(error->message) : std::string("write failed");
}

void WriteStream(GsfOutfile* storage, const std::string& name,
                 std::span<const std::uint8_t> bytes) {
    GsfPtr<GsfOutput> stream(gsf_outfile_new_child(storage, name.c_str(), FALSE));
    if (!stream)
        throw WriteFailure("cannot create stream " + name);
    if (!bytes.empty() && !gsf_output_write(stream.get(), bytes.size(), bytes.data()))
        throw WriteFailure("cannot write stream " + name + ": " + GsfErrorText(stream.get()));
    if (!gsf_output_close(stream.get()))
        throw WriteFailure("cannot close stream " + name + ": " + GsfErrorText(stream.get()));
}

std::string SubstreamName(const Property& p) {
    char name[32];
    std::snprintf(name, sizeof name, "__substg1.0_%04X%04X", p.id(), p.type());
    return name;
}

// Writes the value streams and the property stream of one storage.
void WriteProperties(GsfOutfile* storage, const PropertySet& set,
                     std::vector<std::uint8_t> header) {
    for (const Property& p : set.properties()) {
        if (p.variable())
            WriteStream(storage, SubstreamName(p), p.bytes);
    }
    WriteStream(storage, "__properties_version1.0", PropertyStream(set, std::move(header)));
}

GsfPtr<GsfOutfile> NewStorage(GsfOutfile* parent, const std::string& name) {
    GsfPtr<GsfOutfile> storage(
        reinterpret_cast<GsfOutfile*>(gsf_outfile_new_child(parent, name.c_str(), TRUE)));
    if (!storage)
        throw WriteFailure("cannot create storage " + name);
    return storage;
}

void CloseStorage(GsfOutfile* storage, const std::string& name) {
    if (!gsf_output_close(GSF_OUTPUT(storage)))
        throw WriteFailure("cannot close storage " + name);
}

std::string NumberedName(const char* prefix, std::size_t index) {
    char name[48];
    std::snprintf(name, sizeof name, "%s%08X", prefix, static_cast<unsigned>(index));
    return name;
}

void AddAddressProperties(PropertySet& set, std::uint16_t nameId, std::uint16_t typeId,
                          std::uint16_t emailId, std::uint16_t smtpId, std::u16string_view name,
                          const std::optional<std::u16string>& address) {
    set.Unicode(nameId, name);
    if (address && !address->empty()) {
        set.Unicode(typeId, u"SMTP");
        set.Unicode(emailId, *address);
        set.Unicode(smtpId, *address);
    }
}

// The named properties of a message mapped to the ids from 0x8000: each distinct property set
// and name once, in the order of first use.
class NameMap {
  public:
    explicit NameMap(const std::vector<MsgNamedProperty>& named) {
        for (const MsgNamedProperty& p : named) {
            const std::array<std::uint8_t, 16> guid = ParseGuid(p.propertySet);
            auto [g, addedGuid] = guids_.try_emplace(guid, guids_.size());
            if (addedGuid)
                guidOrder_.push_back(guid);
            const auto key = std::make_pair(g->second, p.lid);
            if (ids_.try_emplace(key, entries_.size()).second)
                entries_.push_back(key);
        }
        if (entries_.size() > kMaxNamedProperties)
            throw WriteFailure(std::to_string(entries_.size()) +
                               " named properties, more than the " +
                               std::to_string(kMaxNamedProperties) + " a message file maps");
    }

    std::uint16_t Id(const MsgNamedProperty& p) const {
        const std::size_t guid = guids_.at(ParseGuid(p.propertySet));
        return static_cast<std::uint16_t>(0x8000 + ids_.at({guid, p.lid}));
    }

    // Writes the GUID, entry and string streams and the name-to-id mapping streams.
    void Write(GsfOutfile* storage) const {
        std::vector<std::uint8_t> guidStream;
        for (const auto& guid : guidOrder_)
            guidStream.insert(guidStream.end(), guid.begin(), guid.end());
        std::vector<std::uint8_t> entryStream;
        std::map<std::uint16_t, std::vector<std::uint8_t>> buckets;
        for (std::size_t index = 0; index < entries_.size(); ++index) {
            const auto [guid, lid] = entries_[index];
            // GUID index 1 and 2 are PS_MAPI and PS_PUBLIC_STRINGS; the stream's own start at 3.
            const std::uint32_t guidIndex = static_cast<std::uint32_t>(guid) + 3;
            const std::uint32_t indexAndKind = (static_cast<std::uint32_t>(index) << 16) |
                                               (guidIndex << 1);  // kind 0: numeric name
            PutLe32(entryStream, lid);
            PutLe32(entryStream, indexAndKind);
            const auto bucket =
                static_cast<std::uint16_t>(0x1000 + (lid ^ (guidIndex << 1)) % 0x1F);
            PutLe32(buckets[bucket], lid);
            PutLe32(buckets[bucket], indexAndKind);
        }
        WriteStream(storage, "__substg1.0_00020102", guidStream);
        WriteStream(storage, "__substg1.0_00030102", entryStream);
        WriteStream(storage, "__substg1.0_00040102", {});
        for (const auto& [bucket, bytes] : buckets) {
            char name[32];
            std::snprintf(name, sizeof name, "__substg1.0_%04X0102", bucket);
            WriteStream(storage, name, bytes);
        }
    }

  private:
    // "00062002-0000-0000-C000-000000000046" in the byte order of a GUID structure.
    static std::array<std::uint8_t, 16> ParseGuid(std::string_view text) {
        std::string hex;
        for (char c : text) {
            if (c != '-')
                hex.push_back(c);
        }
        if (hex.size() != 32 ||
            hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            throw WriteFailure("not a property set GUID: " + std::string(text));
        std::array<std::uint8_t, 16> raw{};
        for (std::size_t i = 0; i < 16; ++i)
            raw[i] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
        // Data1, Data2 and Data3 are little-endian in the structure.
        std::array<std::uint8_t, 16> guid = raw;
        for (std::size_t i = 0; i < 4; ++i)
            guid[i] = raw[3 - i];
        guid[4] = raw[5];
        guid[5] = raw[4];
        guid[6] = raw[7];
        guid[7] = raw[6];
        return guid;
    }

    std::map<std::array<std::uint8_t, 16>, std::size_t> guids_;
    std::vector<std::array<std::uint8_t, 16>> guidOrder_;
    std::map<std::pair<std::size_t, std::uint32_t>, std::size_t> ids_;
    std::vector<std::pair<std::size_t, std::uint32_t>> entries_;
};

PropertySet MessageProperties(const MsgMessage& m, const NameMap& names) {
    PropertySet set;
    set.Unicode(kMessageClass, m.messageClass.empty() ? u"IPM.Note" : m.messageClass);
    const std::u16string prefix = SubjectPrefix(m.subject);
    const std::u16string_view normalized = std::u16string_view(m.subject).substr(prefix.size());
    set.Unicode(kSubject, m.subject);
    set.Unicode(kSubjectPrefix, prefix);
    set.Unicode(kNormalizedSubject, normalized);
    set.Unicode(kConversationTopic, normalized);

    AddAddressProperties(set, kSenderName, kSenderAddrType, kSenderEmail, kSenderSmtpAddress,
                         m.senderName, m.senderAddress);
    AddAddressProperties(set, kSentRepresentingName, kSentRepresentingAddrType,
                         kSentRepresentingEmail, kSentRepresentingSmtpAddress,
                         m.sentRepresentingName, m.sentRepresentingAddress);

    std::u16string displayTo;
    for (std::size_t i = 0; i < m.recipients.size(); ++i) {
        if (i > 0)
            displayTo += u"; ";
        displayTo += m.recipients[i].displayName;
    }
    set.Unicode(kDisplayTo, displayTo);
    set.Unicode(kDisplayCc, u"");
    set.Unicode(kDisplayBcc, u"");

    if (m.deliveryTime)
        set.Time(kMessageDeliveryTime, *m.deliveryTime);
    if (m.submitTime)
        set.Time(kClientSubmitTime, *m.submitTime);

    std::uint32_t flags = 0;
    if (m.read)
        flags |= kMsgFlagRead;
    if (m.unsent)
        flags |= kMsgFlagUnsent;
    if (!m.attachments.empty())
        flags |= kMsgFlagHasAttach;
    set.Int32(kMessageFlags, flags);
    set.Boolean(kHasAttachments, !m.attachments.empty());
    set.Int32(kStoreSupportMask, kStoreUnicodeOk);

    if (m.plainBody)
        set.Unicode(kBody, *m.plainBody);
    if (m.htmlBody) {
        const auto* data = reinterpret_cast<const std::uint8_t*>(m.htmlBody->data());
        set.Binary(kHtml, std::span<const std::uint8_t>(data, m.htmlBody->size()));
        set.Int32(kInternetCodepage, kCodepageUtf8);
    }
    for (const MsgProperty& p : m.properties)
        set.Value(p.id, p.value);
    for (const MsgNamedProperty& p : m.namedProperties)
        set.Value(names.Id(p), p.value);
    return set;
}

PropertySet RecipientProperties(const MsgRecipient& r, std::size_t row) {
    PropertySet set;
    set.Int32(kRecipientType, kRecipientTo);
    AddAddressProperties(set, kDisplayName, kAddrType, kEmailAddress, kSmtpAddress, r.displayName,
                         r.address);
    set.Int32(kRowId, static_cast<std::uint32_t>(row));
    set.Int32(kObjectType, kObjectTypeMailUser);
    set.Int32(kDisplayType, 0);  // a mail user
    return set;
}

std::u16string Extension(std::u16string_view fileName) {
    const auto dot = fileName.rfind(u'.');
    if (dot == std::u16string_view::npos || dot == 0 || dot + 1 == fileName.size())
        return {};
    return std::u16string(fileName.substr(dot));
}

PropertySet AttachmentProperties(const MsgAttachment& a, std::size_t number) {
    PropertySet set;
    set.Int32(kAttachMethod, kAttachByValue);
    set.Binary(kAttachDataBinary, a.data);
    set.Unicode(kAttachLongFileName, a.fileName);
    set.Unicode(kAttachFileName, ShortFileName(a.fileName));
    if (const auto ext = Extension(a.fileName); !ext.empty())
        set.Unicode(kAttachExtension, ext);
    set.Unicode(kAttachMimeTag, MimeTypeForFileName(a.fileName));
    set.Unicode(kDisplayName, a.fileName);
    set.Int32(kAttachNumber, static_cast<std::uint32_t>(number));
    set.Int32(kAttachSize, static_cast<std::uint32_t>(a.data.size()));
    set.Int32(kObjectType, kObjectTypeAttachment);
    set.Int32(kRenderingPosition, 0xFFFFFFFFu);  // not placed in the body
    return set;
}

std::vector<std::uint8_t> TopHeader(const MsgMessage& m) {
    std::vector<std::uint8_t> header(8, 0);
    const auto recipients = static_cast<std::uint32_t>(m.recipients.size());
    const auto attachments = static_cast<std::uint32_t>(m.attachments.size());
    PutLe32(header, recipients);   // next recipient id
    PutLe32(header, attachments);  // next attachment id
    PutLe32(header, recipients);
    PutLe32(header, attachments);
    header.resize(kTopHeaderBytes, 0);
    return header;
}

void WriteCompoundFile(const MsgMessage& m, GsfOutfile* root) {
    const NameMap names(m.namedProperties);
    WriteProperties(root, MessageProperties(m, names), TopHeader(m));

    {
        const std::string name = "__nameid_version1.0";
        auto nameid = NewStorage(root, name);
        names.Write(nameid.get());
        CloseStorage(nameid.get(), name);
    }
    for (std::size_t i = 0; i < m.recipients.size(); ++i) {
        const std::string name = NumberedName("__recip_version1.0_#", i);
        auto storage = NewStorage(root, name);
        WriteProperties(storage.get(), RecipientProperties(m.recipients[i], i),
                        std::vector<std::uint8_t>(kSubHeaderBytes, 0));
        CloseStorage(storage.get(), name);
    }
    for (std::size_t i = 0; i < m.attachments.size(); ++i) {
        const std::string name = NumberedName("__attach_version1.0_#", i);
        auto storage = NewStorage(root, name);
        WriteProperties(storage.get(), AttachmentProperties(m.attachments[i], i),
                        std::vector<std::uint8_t>(kSubHeaderBytes, 0));
        CloseStorage(storage.get(), name);
    }
}

void Validate(const MsgMessage& m) {
    if (m.recipients.size() > kMaxRecipients)
        throw WriteFailure(std::to_string(m.recipients.size()) + " recipients, more than the " +
                           std::to_string(kMaxRecipients) + " a message file holds");
    if (m.attachments.size() > kMaxAttachments)
        throw WriteFailure(std::to_string(m.attachments.size()) + " attachments, more than the " +
                           std::to_string(kMaxAttachments) + " a message file holds");
}

// Cuts UTF-8 text to at most maxBytes without splitting a character.
std::string CutUtf8(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

// A file created here and removed again unless it was handed over.
class TempFile {
  public:
    explicit TempFile(const fs::path& target) {
        static std::atomic<unsigned> counter{0};
        const fs::path folder = target.parent_path();
        const std::string base = target.filename().string();
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string suffix =
                ".part" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
            const std::string name =
                "." + CutUtf8(base, kMaxNameBytes - 1 - suffix.size()) + suffix;
            path_ = folder / name;
            fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd_ >= 0)
                return;
            if (errno != EEXIST)
                break;
        }
        const int error = errno;
        path_.clear();
        throw WriteFailure(
            "cannot create a temporary file in " +
            (folder.empty() ? std::string("the current folder") : "\"" + folder.string() + "\"") +
            ": " + std::strerror(error));
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (file_)
            std::fclose(file_);
        else if (fd_ >= 0)
            ::close(fd_);
        if (!path_.empty())
            ::unlink(path_.c_str());
    }

    // The open file as a stream; it stays ours to close.
    FILE* stream() {
        if (!file_) {
            file_ = ::fdopen(fd_, "wb");
            if (!file_)
                throw WriteFailure(std::string("cannot open the temporary file: ") +
                                   std::strerror(errno));
        }
        return file_;
    }

    // Flushes and closes the file, reporting any error that the writes left behind.
    void Finish() {
        FILE* file = stream();
        const bool failed = std::ferror(file) != 0;
        const bool flushFailed = std::fflush(file) != 0;
        const int flushError = errno;
        file_ = nullptr;
        fd_ = -1;
        const bool closeFailed = std::fclose(file) != 0;
        const int closeError = errno;
        if (failed || flushFailed || closeFailed) {
            const int error = flushFailed ? flushError : closeFailed ? closeError : EIO;
            throw WriteFailure(std::string("cannot write the temporary file: ") +
                               std::strerror(error));
        }
    }

    // Renames the finished file to target unless something is already there.
    void MoveTo(const fs::path& target) {
        int rc = ::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
        if (rc != 0 && (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
            // The file system cannot rename without replacing: a hard link never replaces.
            rc = ::link(path_.c_str(), target.c_str());
        }
        if (rc != 0) {
            const int error = errno;
            throw WriteFailure(error == EEXIST ? std::string("the file already exists")
                                               : std::string(std::strerror(error)));
        }
        ::unlink(path_.c_str());  // gone already after a rename; the spare name after a link
        path_.clear();
    }

  private:
    fs::path path_;
    int fd_ = -1;
    FILE* file_ = nullptr;
};

void EnsureGsf() {
    static std::once_flag once;
    std::call_once(once, [] { gsf_init(); });
}

bool IsAsciiLetter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// Letters that may make up a subject prefix: Latin, Greek and Cyrillic.
bool IsPrefixLetter(char16_t c) {
    if (IsAsciiLetter(c))
        return true;
    if (c >= 0x00C0 && c <= 0x024F)
        return c != 0x00D7 && c != 0x00F7;
    return (c >= 0x0386 && c <= 0x03FF) || (c >= 0x0400 && c <= 0x052F);
}

char16_t AsciiUpper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? c - (u'a' - u'A') : c;
}

bool IsShortNameChar(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9'))
        return true;
    return std::u16string_view(u"!#$%&'()-@^_`{}~").find(c) != std::u16string_view::npos;
}

}  // namespace

std::u16string SubjectPrefix(std::u16string_view subject) {
    std::size_t letters = 0;
    while (letters < subject.size() && letters < 4 && IsPrefixLetter(subject[letters]))
        ++letters;
    if (letters >= 1 && letters <= 3 && subject.substr(letters, 2) == u": ")
        return std::u16string(subject.substr(0, letters + 2));
    return {};
}

std::u16string MimeTypeForFileName(std::u16string_view fileName) {
    static constexpr std::array<std::pair<std::u16string_view, std::u16string_view>, 38> kTypes{{
        {u".txt", u"text/plain"},
        {u".htm", u"text/html"},
        {u".html", u"text/html"},
        {u".csv", u"text/csv"},
        {u".xml", u"application/xml"},
        {u".ics", u"text/calendar"},
        {u".vcf", u"text/vcard"},
        {u".rtf", u"application/rtf"},
        {u".pdf", u"application/pdf"},
        {u".doc", u"application/msword"},
        {u".dot", u"application/msword"},
        {u".docx", u"application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {u".xls", u"application/vnd.ms-excel"},
        {u".xlsx", u"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
        {u".ppt", u"application/vnd.ms-powerpoint"},
        {u".pptx", u"application/vnd.openxmlformats-officedocument.presentationml.presentation"},
        {u".odt", u"application/vnd.oasis.opendocument.text"},
        {u".ods", u"application/vnd.oasis.opendocument.spreadsheet"},
        {u".msg", u"application/vnd.ms-outlook"},
        {u".json", u"application/json"},
        {u".zip", u"application/zip"},
        {u".gz", u"application/gzip"},
        {u".7z", u"application/x-7z-compressed"},
        {u".rar", u"application/vnd.rar"},
        {u".jpg", u"image/jpeg"},
        {u".jpeg", u"image/jpeg"},
        {u".png", u"image/png"},
        {u".gif", u"image/gif"},
        {u".bmp", u"image/bmp"},
        {u".tif", u"image/tiff"},
        {u".tiff", u"image/tiff"},
        {u".svg", u"image/svg+xml"},
        {u".mp3", u"audio/mpeg"},
        {u".wav", u"audio/wav"},
        {u".mp4", u"video/mp4"},
        {u".avi", u"video/x-msvideo"},
        {u".exe", u"application/octet-stream"},
        {u".bin", u"application/octet-stream"},
    }};
    std::u16string ext = Extension(fileName);
    for (char16_t& c : ext)
        c = (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c;
    for (const auto& [known, type] : kTypes) {
        if (ext == known)
            return std::u16string(type);
    }
    return u"application/octet-stream";
}

std::u16string ShortFileName(std::u16string_view fileName) {
    const std::u16string ext = Extension(fileName);
    const std::u16string_view base = fileName.substr(0, fileName.size() - ext.size());

    bool lossy = false;
    std::u16string shortBase;
    for (char16_t c : base) {
        const char16_t u = AsciiUpper(c);
        if (IsShortNameChar(u))
            shortBase += u;
        else
            lossy = true;
    }
    std::u16string shortExt;
    for (char16_t c : ext.empty() ? std::u16string_view() : std::u16string_view(ext).substr(1)) {
        const char16_t u = AsciiUpper(c);
        if (IsShortNameChar(u) && shortExt.size() < 3)
            shortExt += u;
        else
            lossy = true;
    }
    if (shortBase.empty())
        shortBase = u"ATTACH";
    if (lossy || shortBase.size() > 8)
        shortBase = shortBase.substr(0, 6) + u"~1";
    return shortExt.empty() ? shortBase : shortBase + u"." + shortExt;
}

void WriteMsgFile(const MsgMessage& message, const fs::path& target) {
    const auto fail = [&target](const std::string& reason) {
        return MsgWriteError("cannot write message file \"" + target.string() + "\": " + reason);
    };
    try {
        Validate(message);
        if (target.filename().empty())
            throw WriteFailure("the path names no file");

        EnsureGsf();
        TempFile temp(target);
        {
            GsfPtr<GsfOutput> sink(
                gsf_output_stdio_new_FILE(target.filename().c_str(), temp.stream(), TRUE));
            if (!sink)
                throw WriteFailure("cannot start the compound file");
            GsfPtr<GsfOutfile> root(gsf_outfile_msole_new(sink.get()));
            if (!root)
                throw WriteFailure("cannot start the compound file");
            WriteCompoundFile(message, root.get());
            const bool closed = gsf_output_close(GSF_OUTPUT(root.get()));
            if (!closed || gsf_output_error(sink.get()))
                throw WriteFailure("cannot finish the compound file: " + GsfErrorText(sink.get()));
        }
        temp.Finish();
        temp.MoveTo(target);
    } catch (const WriteFailure& e) {
        throw fail(e.what());
    } catch (const std::bad_alloc&) {
        throw fail("out of memory");
    } catch (const std::exception& e) {
        throw fail(e.what());
    }
}

}  // namespace msgfile
