#include "export/eml_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>

#include <gmime/gmime.h>

#include "export/msg_writer.h"
#include "platform/codepage.h"
#include "platform/work_folder.h"

namespace emlfile {

namespace {

namespace fs = std::filesystem;

// GMime's objects are GObjects: one reference each, dropped when the holder goes.
struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using Ref = std::unique_ptr<T, Unref>;

struct FormatOptionsFree {
    void operator()(GMimeFormatOptions* options) const { g_mime_format_options_free(options); }
};

struct DateTimeUnref {
    void operator()(GDateTime* date) const { g_date_time_unref(date); }
};

void InitGmime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

// A text for a header: UTF-8 with every control character (a line break included) turned into
// a space, so that no value can end its header line.
std::string HeaderText(std::u16string_view text) {
    std::u16string clean(text);
    for (char16_t& c : clean) {
        if (c < 0x20 || c == 0x7F) {
            c = u' ';
        }
    }
    return platform::Utf16ToUtf8(clean);
}

// Body text as UTF-8 with line feeds only; the writer ends every line with CRLF.
std::string BodyText(std::u16string_view text) {
    std::string utf8 = platform::Utf16ToUtf8(text);
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\r') {
            out.push_back('\n');
            if (i + 1 < utf8.size() && utf8[i + 1] == '\n') {
                ++i;
            }
        } else {
            out.push_back(utf8[i]);
        }
    }
    return out;
}

// The bytes as the content of the part, written in the given transfer encoding.
void SetContent(GMimePart* part, std::string_view bytes, GMimeContentEncoding encoding) {
    Ref<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
    Ref<GMimeDataWrapper> wrapper(
        g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
    g_mime_part_set_content(part, wrapper.get());
    g_mime_part_set_content_encoding(part, encoding);
}

// A text/plain or text/html part in UTF-8, quoted-printable or base64, whichever is shorter.
Ref<GMimeObject> TextPart(const char* subtype, std::u16string_view text) {
    GMimeTextPart* part = g_mime_text_part_new_with_subtype(subtype);
    Ref<GMimeObject> object(GMIME_OBJECT(part));
    g_mime_text_part_set_charset(part, "utf-8");
    SetContent(GMIME_PART(part), BodyText(text), GMIME_CONTENT_ENCODING_DEFAULT);
    g_mime_part_set_content_encoding(
        GMIME_PART(part),
        g_mime_part_get_best_content_encoding(GMIME_PART(part), GMIME_ENCODING_CONSTRAINT_7BIT));
    return object;
}

// The parameter, when the list has it, is encoded in UTF-8 when it needs encoding.
void Utf8Parameter(GMimeParamList* list, const char* name) {
    if (GMimeParam* param =
            list != nullptr ? g_mime_param_list_get_parameter(list, name) : nullptr) {
        g_mime_param_set_charset(param, "utf-8");
    }
}

platform::Result<std::string> ReadContent(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        return platform::Failure("cannot read the attachment " + path.string() +
                                 ": not a regular file");
    }
    std::ifstream in(path, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), {}};
    if (in.bad()) {
        return platform::Failure("cannot read the attachment " + path.string());
    }
    return bytes;
}

platform::Result<Ref<GMimeObject>> AttachmentPart(const EmlAttachment& attachment) {
    auto bytes = ReadContent(attachment.contentFile);
    if (!bytes) {
        return platform::Failure(bytes.error());
    }
    const std::string mime =
        platform::Utf16ToUtf8(msgfile::MimeTypeForFileName(attachment.fileName));
    const std::size_t slash = mime.find('/');
    GMimePart* part =
        g_mime_part_new_with_type(mime.substr(0, slash).c_str(), mime.substr(slash + 1).c_str());
    Ref<GMimeObject> object(GMIME_OBJECT(part));
    g_mime_object_set_disposition(GMIME_OBJECT(part), GMIME_DISPOSITION_ATTACHMENT);
    const std::string name = HeaderText(attachment.fileName);
    g_mime_part_set_filename(part, name.empty() ? "attachment" : name.c_str());
    Utf8Parameter(g_mime_content_disposition_get_parameters(
                      g_mime_object_get_content_disposition(GMIME_OBJECT(part))),
                  "filename");
    Utf8Parameter(
        g_mime_content_type_get_parameters(g_mime_object_get_content_type(GMIME_OBJECT(part))),
        "name");
    SetContent(part, *bytes, GMIME_CONTENT_ENCODING_BASE64);
    return object;
}

void AddMailbox(GMimeMessage* message, GMimeAddressType type, const EmlMailbox& mailbox) {
    const std::string name = HeaderText(mailbox.name);
    const std::string address = HeaderText(mailbox.address);
    Ref<InternetAddress> entry(
        internet_address_mailbox_new(name.empty() ? nullptr : name.c_str(), address.c_str()));
    internet_address_set_charset(entry.get(), "utf-8");
    internet_address_list_add(g_mime_message_get_addresses(message, type), entry.get());
}

}  // namespace

std::optional<std::string> MessageIdText(std::u16string_view text) {
    while (!text.empty() && text.front() == u' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == u' ') {
        text.remove_suffix(1);
    }
    if (text.size() >= 2 && text.front() == u'<' && text.back() == u'>') {
        text = text.substr(1, text.size() - 2);
    }
    const std::size_t at = text.find(u'@');
    if (at == std::u16string_view::npos || at == 0 || at + 1 == text.size() ||
        text.find(u'@', at + 1) != std::u16string_view::npos) {
        return std::nullopt;
    }
    std::string id;
    for (char16_t c : text) {
        if (c <= 0x20 || c >= 0x7F || c == u'<' || c == u'>' || c == u'"' || c == u'\\') {
            return std::nullopt;
        }
        id.push_back(static_cast<char>(c));
    }
    return id;
}

platform::Result<std::string> FormatEmlMessage(const EmlMessage& m) {
    InitGmime();
    Ref<GMimeMessage> message(g_mime_message_new(TRUE));
    if (m.from) {
        AddMailbox(message.get(), GMIME_ADDRESS_TYPE_FROM, *m.from);
    }
    for (const EmlMailbox& to : m.to) {
        AddMailbox(message.get(), GMIME_ADDRESS_TYPE_TO, to);
    }
    g_mime_message_set_subject(message.get(), HeaderText(m.subject).c_str(), "utf-8");
    if (m.date) {
        std::unique_ptr<GDateTime, DateTimeUnref> date(g_date_time_new_from_unix_utc(*m.date));
        if (date) {
            g_mime_message_set_date(message.get(), date.get());
        }
    }
    if (m.messageId) {
        if (const auto id = MessageIdText(*m.messageId)) {
            g_mime_message_set_message_id(message.get(), id->c_str());
        }
    }

    Ref<GMimeObject> body;
    if (m.plainBody && m.htmlBody) {
        Ref<GMimeObject> alternative(
            GMIME_OBJECT(g_mime_multipart_new_with_subtype("alternative")));
        g_mime_multipart_add(GMIME_MULTIPART(alternative.get()),
                             TextPart("plain", *m.plainBody).get());
        g_mime_multipart_add(GMIME_MULTIPART(alternative.get()),
                             TextPart("html", *m.htmlBody).get());
        body = std::move(alternative);
    } else if (m.htmlBody) {
        body = TextPart("html", *m.htmlBody);
    } else {
        body = TextPart("plain", m.plainBody.value_or(u""));
    }
    if (m.attachments.empty()) {
        g_mime_message_set_mime_part(message.get(), body.get());
    } else {
        Ref<GMimeObject> mixed(GMIME_OBJECT(g_mime_multipart_new_with_subtype("mixed")));
        g_mime_multipart_add(GMIME_MULTIPART(mixed.get()), body.get());
        for (const EmlAttachment& attachment : m.attachments) {
            auto part = AttachmentPart(attachment);
            if (!part) {
                return platform::Failure(part.error());
            }
            g_mime_multipart_add(GMIME_MULTIPART(mixed.get()), part->get());
        }
        g_mime_message_set_mime_part(message.get(), mixed.get());
    }

    std::unique_ptr<GMimeFormatOptions, FormatOptionsFree> options(g_mime_format_options_new());
    g_mime_format_options_set_newline_format(options.get(), GMIME_NEWLINE_FORMAT_DOS);
    g_mime_format_options_set_param_encoding_method(options.get(),
                                                    GMIME_PARAM_ENCODING_METHOD_RFC2231);
    Ref<GMimeStream> out(g_mime_stream_mem_new());
    if (g_mime_object_write_to_stream(GMIME_OBJECT(message.get()), options.get(), out.get()) < 0) {
        return platform::Failure("the message could not be formatted");
    }
    const GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
    return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

platform::Result<> WriteEmlFile(const EmlMessage& message, const fs::path& target) {
    auto bytes = FormatEmlMessage(message);
    if (!bytes) {
        return platform::Failure(bytes.error());
    }
    errno = 0;
    platform::FileHandle file = platform::CreateNewFile(target, platform::kSavedFileMode);
    if (!file) {
        const int error = errno;
        return platform::Failure("cannot create " + target.string() + ": " +
                                 (error == EEXIST ? std::string("the file already exists")
                                                  : std::string(std::strerror(error))));
    }
    const bool written = std::fwrite(bytes->data(), 1, bytes->size(), file.get()) == bytes->size();
    const int error = errno;
    if (std::fclose(file.release()) != 0 || !written) {
        std::error_code ec;
        fs::remove(target, ec);
        return platform::Failure("cannot write " + target.string() + ": " +
                                 std::strerror(error != 0 ? error : EIO));
    }
    return {};
}

}  // namespace emlfile
