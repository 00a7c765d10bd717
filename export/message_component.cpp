#include "export/message_component.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <span>
#include <utility>

#include "export/dispatch.h"
#include "platform/codepage.h"
#include "platform/datetime.h"

namespace msgfile {

namespace {

namespace fs = std::filesystem;
using dispatch::DispatchError;
using dispatch::DispatchObject;
using dispatch::DispatchPtr;
using dispatch::InvokeKind;
using dispatch::Variant;
using dispatch::VarType;
using Args = std::span<const Variant>;

const char* KindName(InvokeKind kind) {
    switch (kind) {
        case InvokeKind::kGet:
            return "get";
        case InvokeKind::kPut:
            return "put";
        case InvokeKind::kMethod:
            return "method call";
    }
    return "call";
}

[[noreturn]] void Fail(std::int32_t dispid, const std::string& what) {
    throw DispatchError(dispid, "member " + std::to_string(dispid) + ": " + what);
}

[[noreturn]] void UnknownMember(std::int32_t dispid) {
    Fail(dispid, "no such member");
}

void RequireKind(std::int32_t dispid, InvokeKind kind, InvokeKind expected) {
    if (kind != expected)
        Fail(dispid, std::string("a ") + KindName(kind) + " is not supported, only a " +
                         KindName(expected));
}

void RequireCount(std::int32_t dispid, Args args, std::size_t least, std::size_t most) {
    if (args.size() < least || args.size() > most)
        Fail(dispid, std::to_string(args.size()) + " arguments given, expected " +
                         (least == most ? std::to_string(least)
                                        : std::to_string(least) + " to " + std::to_string(most)));
}

bool IsMissing(const Variant& v) {
    return v.type == VarType::kError && v.i4 == dispatch::kParamNotFound;
}

const Variant& Typed(std::int32_t dispid, Args args, std::size_t index, VarType type,
                     const char* what) {
    if (args[index].type != type)
        Fail(dispid, "argument " + std::to_string(index + 1) + " must be " + what);
    return args[index];
}

// The single value of a property put.
const Variant& PutValue(std::int32_t dispid, InvokeKind kind, Args args, VarType type,
                        const char* what) {
    RequireKind(dispid, kind, InvokeKind::kPut);
    RequireCount(dispid, args, 1, 1);
    return Typed(dispid, args, 0, type, what);
}

void RequireGet(std::int32_t dispid, InvokeKind kind, Args args) {
    RequireKind(dispid, kind, InvokeKind::kGet);
    RequireCount(dispid, args, 0, 0);
}

fs::path PathFromText(std::int32_t dispid, std::u16string_view text) {
    if (text.empty())
        Fail(dispid, "the path is empty");
    return fs::path(platform::Utf16ToUtf8(text));
}

// An object that answers no member: what callers keep but never use.
class InertObject : public DispatchObject {
  public:
    Variant Invoke(std::int32_t dispid, InvokeKind, Args) override { UnknownMember(dispid); }
};

// What has been put into one message so far.
struct MessageState {
    std::optional<std::u16string> senderText;
    std::optional<std::u16string> sentRepresentingText;
    std::u16string subject;
    std::optional<std::u16string> recipientsText;
    std::optional<std::uint64_t> deliveryTime;
    std::optional<std::uint64_t> submitTime;
    bool read = false;
    bool sent = false;  // a new message is unsent until it is marked sent
    std::optional<std::u16string> plainBody;
    std::optional<std::u16string> htmlBody;
    std::optional<std::int32_t> bodyFormat;
    std::vector<MsgAttachment> attachments;
};

class AttachmentCollection : public DispatchObject {
  public:
    explicit AttachmentCollection(std::shared_ptr<MessageState> state) : state_(std::move(state)) {}

    Variant Invoke(std::int32_t dispid, InvokeKind kind, Args args) override {
        if (dispid != member::kAddAttachment)
            UnknownMember(dispid);
        RequireKind(dispid, kind, InvokeKind::kMethod);
        RequireCount(dispid, args, 1, 4);
        const auto& source = Typed(dispid, args, 0, VarType::kBStr, "a path (string)");
        for (std::size_t i = 1; i < args.size() && i < 3; ++i) {
            if (!IsMissing(args[i]))
                Fail(dispid, "argument " + std::to_string(i + 1) + " must be left out");
        }
        const bool named = args.size() == 4 && !IsMissing(args[3]);
        if (named)
            Typed(dispid, args, 3, VarType::kBStr, "a display name (string) or left out");
        if (state_->attachments.size() >= kMaxAttachments)
            Fail(dispid,
                 "the message already has " + std::to_string(kMaxAttachments) + " attachments");
        const fs::path path = PathFromText(dispid, source.str);
        MsgAttachment attachment;
        attachment.fileName = platform::Utf8ToUtf16(path.filename().string());
        if (attachment.fileName.empty())
            Fail(dispid, "\"" + path.string() + "\" names no file");
        if (named && !args[3].str.empty())
            attachment.fileName = args[3].str;
        try {
            attachment.data = ReadWholeFile(path);
        } catch (const std::bad_alloc&) {
            Fail(dispid, "cannot read attachment \"" + path.string() + "\": out of memory");
        } catch (const std::exception& e) {
            Fail(dispid, "cannot read attachment \"" + path.string() + "\": " + e.what());
        }
        state_->attachments.push_back(std::move(attachment));
        return Variant::Object(std::make_shared<InertObject>());
    }

  private:
    std::shared_ptr<MessageState> state_;
};

class Message : public DispatchObject {
  public:
    Message() : state_(std::make_shared<MessageState>()) {}

    Variant Invoke(std::int32_t dispid, InvokeKind kind, Args args) override {
        MessageState& s = *state_;
        switch (dispid) {
            case member::kSender:
                s.senderText = PutValue(dispid, kind, args, VarType::kBStr, "a string").str;
                return {};
            case member::kSentRepresenting:
                s.sentRepresentingText =
                    PutValue(dispid, kind, args, VarType::kBStr, "a string").str;
                return {};
            case member::kSubject:
                s.subject = PutValue(dispid, kind, args, VarType::kBStr, "a string").str;
                return {};
            case member::kRecipients:
                s.recipientsText = PutValue(dispid, kind, args, VarType::kBStr, "a string").str;
                return {};
            case member::kDeliveryTime:
                s.deliveryTime = DateValue(dispid, kind, args);
                return {};
            case member::kSubmitTime:
                s.submitTime = DateValue(dispid, kind, args);
                return {};
            case member::kRead:
                s.read = PutValue(dispid, kind, args, VarType::kBool, "a boolean").boolean;
                return {};
            case member::kSent:
                s.sent = PutValue(dispid, kind, args, VarType::kBool, "a boolean").boolean;
                return {};
            case member::kAttachments:
                RequireGet(dispid, kind, args);
                if (!attachments_)
                    attachments_ = std::make_shared<AttachmentCollection>(state_);
                return Variant::Object(attachments_);
            case member::kPlainBody:
                s.plainBody = PutValue(dispid, kind, args, VarType::kBStr, "a string").str;
                return {};
            case member::kHtmlBody:
                s.htmlBody = PutValue(dispid, kind, args, VarType::kBStr, "a string").str;
                return {};
            case member::kBodyFormat: {
                const std::int32_t format =
                    PutValue(dispid, kind, args, VarType::kI4, "an integer").i4;
                if (format != kBodyFormatPlain && format != kBodyFormatHtml)
                    Fail(dispid, "body format " + std::to_string(format) + " is not supported");
                s.bodyFormat = format;
                return {};
            }
            case member::kSaveAs:
                SaveAs(dispid, kind, args);
                return {};
            default:
                UnknownMember(dispid);
        }
    }

  private:
    static std::uint64_t DateValue(std::int32_t dispid, InvokeKind kind, Args args) {
        const double date = PutValue(dispid, kind, args, VarType::kDate, "a date").date;
        std::uint64_t filetime = 0;
        if (!platform::OleDateToFiletime(date, filetime))
            Fail(dispid, "the date " + std::to_string(date) + " is out of range");
        return filetime;
    }

    void SaveAs(std::int32_t dispid, InvokeKind kind, Args args) {
        RequireKind(dispid, kind, InvokeKind::kMethod);
        RequireCount(dispid, args, 1, 2);
        const auto& target = Typed(dispid, args, 0, VarType::kBStr, "a path (string)");
        if (args.size() == 2 && !IsMissing(args[1])) {
            const auto& type = Typed(dispid, args, 1, VarType::kI4, "an integer");
            if (type.i4 != kSaveAsMsg)
                Fail(dispid, "file type " + std::to_string(type.i4) + " is not supported");
        }
        const fs::path path = PathFromText(dispid, target.str);

        MsgMessage message = Compose();
        // The attachments are lent to the message for the write and taken back afterwards,
        // so the message can be saved again.
        message.attachments.swap(state_->attachments);
        struct GiveBack {
            std::vector<MsgAttachment>& from;
            std::vector<MsgAttachment>& to;
            ~GiveBack() { to.swap(from); }
        } giveBack{message.attachments, state_->attachments};
        try {
            WriteMsgFile(message, path);
        } catch (const std::exception& e) {
            Fail(dispid, e.what());
        }
    }

    MsgMessage Compose() const {
        const MessageState& s = *state_;
        MsgMessage m;
        // Each sender stands in for the other when only one of them was given.
        const auto& senderText = s.senderText ? s.senderText : s.sentRepresentingText;
        const auto& representingText =
            s.sentRepresentingText ? s.sentRepresentingText : s.senderText;
        if (senderText) {
            auto sender = ParseSenderText(*senderText);
            m.senderName = std::move(sender.name);
            m.senderAddress = std::move(sender.address);
        }
        if (representingText) {
            auto representing = ParseSenderText(*representingText);
            m.sentRepresentingName = std::move(representing.name);
            m.sentRepresentingAddress = std::move(representing.address);
        }
        m.subject = s.subject;
        if (s.recipientsText)
            m.recipients = ParseRecipientsText(*s.recipientsText);
        m.deliveryTime = s.deliveryTime ? s.deliveryTime : s.submitTime;
        m.submitTime = s.submitTime ? s.submitTime : s.deliveryTime;
        m.read = s.read;
        m.unsent = !s.sent;

        const bool wantPlain = s.bodyFormat == kBodyFormatPlain && s.plainBody;
        const bool wantHtml = s.bodyFormat == kBodyFormatHtml && s.htmlBody;
        if (!wantHtml && s.plainBody)
            m.plainBody = s.plainBody;
        if (!wantPlain && s.htmlBody)
            m.htmlBody = platform::Utf16ToUtf8(*s.htmlBody);
        return m;
    }

    std::shared_ptr<MessageState> state_;
    std::shared_ptr<AttachmentCollection> attachments_;
};

class ItemCollection : public DispatchObject {
  public:
    Variant Invoke(std::int32_t dispid, InvokeKind kind, Args args) override {
        if (dispid != member::kAddItem)
            UnknownMember(dispid);
        RequireKind(dispid, kind, InvokeKind::kMethod);
        RequireCount(dispid, args, 0, 1);
        if (!args.empty() && !IsMissing(args[0])) {
            const auto& itemKind = Typed(dispid, args, 0, VarType::kI4, "an integer");
            if (itemKind.i4 != kMailItemKind)
                Fail(dispid, "item kind " + std::to_string(itemKind.i4) + " is not supported");
        }
        return Variant::Object(std::make_shared<Message>());
    }
};

class TargetFolder : public DispatchObject {
  public:
    Variant Invoke(std::int32_t dispid, InvokeKind kind, Args args) override {
        if (dispid != member::kItems)
            UnknownMember(dispid);
        RequireGet(dispid, kind, args);
        return Variant::Object(std::make_shared<ItemCollection>());
    }
};

class Session : public DispatchObject {
  public:
    Variant Invoke(std::int32_t dispid, InvokeKind kind, Args args) override {
        switch (dispid) {
            case member::kLogon:
                RequireKind(dispid, kind, InvokeKind::kMethod);
                RequireCount(dispid, args, 0, 6);
                for (std::size_t i = 0; i < args.size(); ++i) {
                    if (args[i].type != VarType::kEmpty && !IsMissing(args[i]))
                        Fail(dispid, "argument " + std::to_string(i + 1) + " must be empty");
                }
                loggedOn_ = true;
                return {};
            case member::kSessionInfo:
                RequireGet(dispid, kind, args);
                return Variant::Object(std::make_shared<InertObject>());
            case member::kDefaultFolder: {
                RequireKind(dispid, kind, InvokeKind::kMethod);
                RequireCount(dispid, args, 1, 1);
                const auto& folder = Typed(dispid, args, 0, VarType::kI4, "an integer");
                if (folder.i4 != kTargetFolderKind)
                    Fail(dispid, "folder kind " + std::to_string(folder.i4) + " is not supported");
                if (!loggedOn_)
                    Fail(dispid, "not logged on");
                return Variant::Object(std::make_shared<TargetFolder>());
            }
            default:
                UnknownMember(dispid);
        }
    }

  private:
    bool loggedOn_ = false;
};

bool IsTokenChar(char16_t c) {
    return std::u16string_view(u" ;,<>\"'").find(c) == std::u16string_view::npos;
}

std::u16string_view Trim(std::u16string_view text) {
    while (!text.empty() && text.front() == u' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == u' ')
        text.remove_suffix(1);
    return text;
}

}  // namespace

void RegisterMessageFileComponent() {
    dispatch::RegisterClass(std::u16string(kMessageFileProgId),
                            [] { return std::make_shared<Session>(); });
}

SenderInfo ParseSenderText(std::u16string_view text) {
    SenderInfo info;
    for (std::size_t i = 0; i < text.size();) {
        if (!IsTokenChar(text[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && IsTokenChar(text[end]))
            ++end;
        const std::u16string_view token = text.substr(i, end - i);
        const auto at = token.find(u'@');
        if (at != std::u16string_view::npos && at > 0 && at + 1 < token.size()) {
            info.address = std::u16string(token);
            break;
        }
        i = end;
    }

    std::u16string_view name = text.substr(0, text.find(u'<'));
    name = Trim(name.substr(0, name.find(u';')));
    if (name.empty() && info.address)
        info.name = *info.address;
    else
        info.name = std::u16string(name);
    return info;
}

std::vector<MsgRecipient> ParseRecipientsText(std::u16string_view text) {
    std::vector<MsgRecipient> recipients;
    if (Trim(text) == u"None")
        return recipients;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of(u",;", start);
        if (end == std::u16string_view::npos)
            end = text.size();
        const std::u16string_view piece = Trim(text.substr(start, end - start));
        start = end + 1;
        if (piece.empty())
            continue;
        MsgRecipient r;
        const auto open = piece.find(u'<');
        if (open == std::u16string_view::npos) {
            r.displayName = std::u16string(piece);
            r.address = r.displayName;
        } else {
            std::u16string address;
            for (char16_t c : piece.substr(open + 1)) {
                if (c != u'>')
                    address += c;
            }
            r.address = std::u16string(Trim(address));
            r.displayName = std::u16string(Trim(piece.substr(0, open)));
            if (r.displayName.empty())
                r.displayName = r.address;
        }
        if (!r.displayName.empty())
            recipients.push_back(std::move(r));
    }
    return recipients;
}

std::vector<std::uint8_t> ReadWholeFile(const fs::path& path) {
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (ec)
        throw std::runtime_error(ec.message());
    if (!fs::is_regular_file(status))
        throw std::runtime_error("not a regular file");
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        throw std::runtime_error(std::strerror(errno));
    std::unique_ptr<FILE, int (*)(FILE*)> closer(file, &std::fclose);
    std::vector<std::uint8_t> data;
    std::uint8_t buffer[65536];
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
        if (data.size() + n > kMaxStreamBytes)
            throw std::runtime_error("larger than a message file attachment can be");
        data.insert(data.end(), buffer, buffer + n);
        if (n < sizeof buffer) {
            if (std::ferror(file))
                throw std::runtime_error(std::strerror(errno));
            break;
        }
    }
    return data;
}

}  // namespace msgfile
