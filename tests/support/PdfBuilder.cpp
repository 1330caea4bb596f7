#include "support/PdfBuilder.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <span>
#include <stdexcept>
#include <zlib.h>

#include "security/CryptoProvider.h"
#include "security/PDFEncryptionDictionary.h"
#include "security/RC4.h"

namespace vellumtag::test {

namespace {

// The password padding of ISO 32000-1, 7.6.3.3, Algorithm 2, step a.
constexpr std::string_view kPadding{
    "\x28\xBF\x4E\x5E\x4E\x75\x8A\x41\x64\x00\x4E\x56\xFF\xFA\x01\x08"
    "\x2E\x2E\x00\xB6\xD0\x68\x3E\x80\x2F\x0C\xA9\xFE\x64\x53\x69\x7A",
    32};

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t *>(text.data()), text.size()};
}

std::string digestOf(CryptoProvider::Hash hash, std::string_view data) {
    const CryptoProvider::Bytes digest = CryptoProvider::digest(hash, {bytesOf(data)});
    return std::string(digest.begin(), digest.end());
}

std::string md5(std::string_view data) { return digestOf(CryptoProvider::Hash::MD5, data); }

// AES-CBC in place over whole blocks; throws when the provider refuses.
std::string aesCbc(std::string data, std::string_view key, std::string_view iv) {
    std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t *>(data.data()), data.size());
    if (!CryptoProvider::aesCbcEncrypt(bytesOf(key), bytesOf(iv), bytes))
        throw std::runtime_error("AES encryption failed");
    return data;
}

std::string rc4(std::string data, std::string_view key) {
    RC4(bytesOf(key)).process({reinterpret_cast<std::uint8_t *>(data.data()), data.size()});
    return data;
}

std::string xorEach(std::string_view key, unsigned value) {
    std::string out(key);
    for (char &c : out)
        c = static_cast<char>(static_cast<unsigned char>(c) ^ value);
    return out;
}

std::string hex(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += "0123456789ABCDEF"[byte >> 4];
        out += "0123456789ABCDEF"[byte & 15];
    }
    return out;
}

int hexDigit(char c) {
    const std::size_t at = std::string_view("0123456789abcdef0123456789ABCDEF").find(c);
    return at == std::string_view::npos ? -1 : static_cast<int>(at % 16);
}

// Appends the words to the list, spaces between.
void appendWords(std::string &list, std::initializer_list<std::string_view> words) {
    for (const std::string_view word : words) {
        if (!list.empty())
            list += ' ';
        list += word;
    }
}

// The parts joined by single spaces, the empty ones left out.
std::string join(std::initializer_list<std::string_view> parts) {
    std::string out;
    for (const std::string_view part : parts) {
        if (!part.empty())
            appendWords(out, {part});
    }
    return out;
}

std::string dictionary(std::initializer_list<std::string_view> parts) {
    return "<< " + join(parts) + " >>";
}

// ISO 32000-1, 7.2.2: white-space and delimiter characters.
bool isWhite(char c) {
    return c == '\0' || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}
bool isDelimiter(char c) {
    return std::string_view("()<>[]{}/%").find(c) != std::string_view::npos;
}

// One token of an object body: a name (its text without the slash), a string (its bytes,
// escapes and hexadecimal digits decoded) or anything else (its text).
struct Token {
    enum class Kind { Name, String, Other, End } kind;
    std::size_t begin, end;
    std::string text;
};

std::size_t regularEnd(std::string_view body, std::size_t at) {
    while (at < body.size() && !isWhite(body[at]) && !isDelimiter(body[at]))
        ++at;
    return at;
}

// A literal string from its "(" (ISO 32000-1, 7.3.4.2): balanced parentheses, escapes, and
// end-of-line markers read as a line feed.
Token literalString(std::string_view body, std::size_t begin) {
    std::string bytes;
    std::size_t at = begin + 1;
    int depth = 1;
    while (at < body.size()) {
        const char c = body[at++];
        if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (--depth == 0)
                break;
        } else if (c == '\r') {
            if (at < body.size() && body[at] == '\n')
                ++at;
            bytes += '\n';
            continue;
        } else if (c == '\\' && at < body.size()) {
            const char e = body[at++];
            if (e >= '0' && e <= '7') {
                unsigned value = static_cast<unsigned>(e - '0');
                for (int i = 0; i < 2 && at < body.size() && body[at] >= '0' && body[at] <= '7';
                     ++i)
                    value = value * 8 + static_cast<unsigned>(body[at++] - '0');
                bytes += static_cast<char>(value & 0xFF);
            } else if (e == '\r' || e == '\n') {
                if (e == '\r' && at < body.size() && body[at] == '\n')
                    ++at;
            } else {
                const std::string_view escaped = "n\nr\rt\tb\bf\f";
                const std::size_t found = escaped.find(e);
                bytes += found != std::string_view::npos && found % 2 == 0 ? escaped[found + 1] : e;
            }
            continue;
        }
        bytes += c;
    }
    return {Token::Kind::String, begin, at, bytes};
}

Token hexString(std::string_view body, std::size_t begin) {
    std::string digits;
    std::size_t at = begin + 1;
    for (; at < body.size() && body[at] != '>'; ++at) {
        if (hexDigit(body[at]) >= 0)
            digits += body[at];
    }
    if (digits.size() % 2 != 0)
        digits += '0';
    std::string bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2)
        bytes += static_cast<char>(hexDigit(digits[i]) * 16 + hexDigit(digits[i + 1]));
    return {Token::Kind::String, begin, std::min(at + 1, body.size()), bytes};
}

// The next token at or after `at`, past white space and comments.
Token nextToken(std::string_view body, std::size_t at) {
    while (at < body.size() && (isWhite(body[at]) || body[at] == '%')) {
        if (body[at] == '%') {
            while (at < body.size() && body[at] != '\r' && body[at] != '\n')
                ++at;
        } else {
            ++at;
        }
    }
    if (at >= body.size())
        return {Token::Kind::End, at, at, {}};
    const char c = body[at];
    const bool doubled = at + 1 < body.size() && body[at + 1] == c;
    if (c == '(')
        return literalString(body, at);
    if (c == '<' && !doubled)
        return hexString(body, at);
    if ((c == '<' || c == '>') && doubled)
        return {Token::Kind::Other, at, at + 2, std::string(2, c)};
    if (c == '/') {
        const std::size_t end = regularEnd(body, at + 1);
        return {Token::Kind::Name, at, end, std::string(body.substr(at + 1, end - at - 1))};
    }
    if (isDelimiter(c))
        return {Token::Kind::Other, at, at + 1, std::string(1, c)};
    const std::size_t end = regularEnd(body, at);
    return {Token::Kind::Other, at, end, std::string(body.substr(at, end - at))};
}

// The body with every string encrypted and written in hexadecimal; what follows a "stream"
// keyword is left as it is.
template <class Encrypt> std::string encryptStrings(std::string_view body, Encrypt encrypt) {
    std::string out;
    std::size_t copied = 0;
    for (Token token = nextToken(body, 0); token.kind != Token::Kind::End;
         token = nextToken(body, token.end)) {
        if (token.kind == Token::Kind::Other && token.text == "stream")
            break;
        if (token.kind != Token::Kind::String)
            continue;
        out.append(body.substr(copied, token.begin - copied));
        out += '<' + hex(encrypt(token.text)) + '>';
        copied = token.end;
    }
    out.append(body.substr(copied));
    return out;
}

bool isMetadataStream(std::string_view dictionary) {
    bool afterType = false;
    for (Token token = nextToken(dictionary, 0); token.kind != Token::Kind::End;
         token = nextToken(dictionary, token.end)) {
        const bool isName = token.kind == Token::Kind::Name;
        if (afterType && isName && token.text == "Metadata")
            return true;
        afterType = isName && token.text == "Type";
    }
    return false;
}

std::string padded(std::string_view password) {
    std::string out(password.substr(0, 32));
    return out.append(kPadding.substr(0, 32 - out.size()));
}

std::string littleEndian(std::uint32_t value) {
    std::string out;
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

// ISO 32000-1, 7.6.3.4, Algorithm 3: /O from the owner and user passwords.
std::string ownerEntry(const PdfEncryption &encryption, std::size_t keyBytes) {
    std::string digest = md5(padded(encryption.ownerPassword));
    if (encryption.revision >= 3) {
        for (int i = 0; i < 50; ++i)
            digest = md5(digest);
    }
    const std::string key = digest.substr(0, keyBytes);
    std::string owner = rc4(padded(encryption.userPassword), key);
    if (encryption.revision >= 3) {
        for (unsigned i = 1; i <= 19; ++i)
            owner = rc4(owner, xorEach(key, i));
    }
    return owner;
}

// ISO 32000-1, 7.6.3.3, Algorithm 2, with the user password.
std::string fileKey(const PdfEncryption &encryption, std::string_view owner, std::size_t keyBytes) {
    std::string input = padded(encryption.userPassword) + std::string(owner) +
                        littleEndian(static_cast<std::uint32_t>(encryption.permissions)) +
                        encryption.id;
    if (encryption.revision >= 4 && !encryption.encryptMetadata)
        input += std::string(4, '\xFF');
    std::string digest = md5(input);
    if (encryption.revision >= 3) {
        for (int i = 0; i < 50; ++i)
            digest = md5(digest.substr(0, keyBytes));
    }
    return digest.substr(0, keyBytes);
}

// ISO 32000-1, 7.6.3.4, Algorithms 4 (revision 2) and 5 (revisions 3 and 4).
std::string userEntry(const PdfEncryption &encryption, std::string_view key) {
    if (encryption.revision == 2)
        return rc4(std::string(kPadding), key);
    std::string entry = rc4(md5(std::string(kPadding) + encryption.id), key);
    for (unsigned i = 1; i <= 19; ++i)
        entry = rc4(entry, xorEach(key, i));
    return entry + std::string(16, '\0'); // only the first 16 bytes are defined
}

// The hash of revisions 5 and 6 (ISO 32000-2, 7.6.4.3.3 and 7.6.4.3.4): the reader's own.
std::string passwordHash(int revision, std::string_view password, std::string_view salt,
                         std::string_view userKey) {
    const Bytes hash = PDFEncryptionDictionary::passwordHash(revision, bytesOf(password),
                                                             bytesOf(salt), bytesOf(userKey));
    return std::string(hash.begin(), hash.end());
}

// ISO 32000-2, 7.6.4.4, Algorithms 8, 9 and 10: /U, /UE, /O, /OE and /Perms of an AES-256
// file key, with salts that are fixed rather than random, so that files are reproducible.
std::string aes256Entries(const PdfEncryption &encryption, const std::string &key) {
    const std::string zeros(16, '\0');
    const auto entryPair = [&](std::string_view password, std::string_view salts,
                               std::string_view userKey) {
        const std::string hash =
            passwordHash(encryption.revision, password, salts.substr(0, 8), userKey);
        const std::string intermediate =
            passwordHash(encryption.revision, password, salts.substr(8, 8), userKey);
        return std::pair(hash + std::string(salts), aesCbc(key, intermediate, zeros));
    };
    const auto [u, ue] = entryPair(encryption.userPassword, "uvsaltukeysalt01", "");
    const auto [o, oe] = entryPair(encryption.ownerPassword, "ovsaltokeysalt01", u);
    std::string perms = littleEndian(static_cast<std::uint32_t>(encryption.permissions)) +
                        std::string(4, '\xFF') + (encryption.encryptMetadata ? "T" : "F") + "adb" +
                        "0123";
    perms = aesCbc(perms, key, zeros);
    return "/U <" + hex(u) + "> /UE <" + hex(ue) + "> /O <" + hex(o) + "> /OE <" + hex(oe) +
           "> /Perms <" + hex(perms) + ">";
}

// The bytes needed to hold the value in a cross-reference stream field, at least one.
std::uint32_t widthOf(std::uint64_t value) {
    std::uint32_t width = 1;
    while (width < 8 && (value >> (8 * width)) != 0)
        ++width;
    return width;
}

// The runs of consecutive object numbers among the rows: first number and count.
template <class Rows>
std::vector<std::pair<std::uint32_t, std::uint32_t>> subsections(const Rows &rows) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> runs;
    for (const auto &[number, _] : rows) {
        if (!runs.empty() && runs.back().first + runs.back().second == number)
            ++runs.back().second;
        else
            runs.emplace_back(number, 1);
    }
    return runs;
}

} // namespace

std::string deflated(std::string_view data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef *>(out.data()), &size,
                  reinterpret_cast<const Bytef *>(data.data()), static_cast<uLong>(data.size()),
                  Z_BEST_COMPRESSION) != Z_OK)
        throw std::runtime_error("compress2 failed");
    out.resize(size);
    return out;
}

PdfBuilder::PdfBuilder(std::string_view version) {
    append("%PDF-" + std::string(version) + "\n%\xE2\xE3\xCF\xD3\n");
}

PdfBuilder PdfBuilder::withoutHeader() {
    PdfBuilder builder;
    builder._chunks.assign(1, {});
    builder._size = 0;
    return builder;
}

PdfBuilder &PdfBuilder::append(std::string_view bytes) {
    if (_chunks.back().zeros != 0)
        _chunks.emplace_back();
    _chunks.back().text.append(bytes);
    _size += bytes.size();
    return *this;
}

void PdfBuilder::list(std::uint32_t number, Row row) {
    _pending[number] = row;
    _highest = std::max(_highest, number);
}

PdfBuilder &PdfBuilder::put(std::uint32_t number, std::uint16_t generation, std::string_view body) {
    list(number, {1, _size, generation});
    return append(std::to_string(number) + " " + std::to_string(generation) + " obj\n" +
                  std::string(body) + "\nendobj\n");
}

PdfBuilder &PdfBuilder::object(std::uint32_t number, std::string_view body) {
    return object(number, 0, body);
}

PdfBuilder &PdfBuilder::object(std::uint32_t number, std::uint16_t generation,
                               std::string_view body) {
    if (!_security || !_security->strings)
        return put(number, generation, body);
    const std::string key = objectKey(number, generation);
    return put(number, generation,
               encryptStrings(body, [&](std::string text) { return encrypted(text, key); }));
}

std::string PdfBuilder::streamBody(std::uint32_t number, std::uint16_t generation,
                                   std::string_view dictionary, std::string data) const {
    std::string head(dictionary);
    if (_security) {
        const std::string key = objectKey(number, generation);
        if (_security->strings)
            head =
                encryptStrings(dictionary, [&](std::string text) { return encrypted(text, key); });
        if (_security->streams && (_security->encryptMetadata || !isMetadataStream(dictionary)))
            data = encrypted(std::move(data), key);
    }
    // AES data change length: /Length is written after encryption.
    const std::string length = "/Length " + std::to_string(data.size());
    if (_security && _security->streams && _security->cipher != PdfEncryption::Cipher::RC4) {
        const std::size_t at = head.find("/Length ");
        if (at != std::string::npos)
            head.replace(at, head.find_first_of(" >/", at + 8) - at, length);
    }
    return head + "\nstream\n" + data + "\nendstream";
}

std::string PdfBuilder::encrypted(std::string bytes, const std::string &key) const {
    if (_security->cipher == PdfEncryption::Cipher::RC4)
        return rc4(std::move(bytes), key);
    // An initialisation vector of its own for every text, made from it, so that files are
    // reproducible.
    const std::string iv = md5(key + bytes);
    const std::size_t pad = 16 - bytes.size() % 16;
    bytes.append(pad, static_cast<char>(pad));
    return iv + aesCbc(std::move(bytes), key, iv);
}

PdfBuilder &PdfBuilder::stream(std::uint32_t number, const std::string &dictionary,
                               const std::string &data) {
    return put(number, 0, streamBody(number, 0, dictionary, data));
}

PdfBuilder &PdfBuilder::stream(std::uint32_t number, const PdfStream &stream) {
    std::string data = stream.deflate ? deflated(stream.data) : stream.data;
    const std::string head =
        dictionary({stream.entries, stream.deflate ? "/Filter /FlateDecode" : "",
                    "/Length " + std::to_string(data.size())});
    return put(number, stream.generation,
               streamBody(number, stream.generation, head, std::move(data)));
}

PdfBuilder &PdfBuilder::holeStream(std::uint32_t number, std::string_view entries,
                                   std::uint64_t length) {
    list(number, {1, _size, 0});
    append(std::to_string(number) + " 0 obj\n" +
           dictionary({entries, "/Length " + std::to_string(length)}) + "\nstream\n");
    return hole(length).append("\nendstream\nendobj\n");
}

PdfBuilder &
PdfBuilder::objectStream(std::uint32_t number,
                         const std::vector<std::pair<std::uint32_t, std::string>> &objects,
                         bool deflate) {
    std::string pairs, bodies;
    for (std::uint32_t index = 0; index < objects.size(); ++index) {
        const auto &[member, body] = objects[index];
        appendWords(pairs, {std::to_string(member), std::to_string(bodies.size())});
        bodies += body + "\n";
        list(member, {2, number, index});
    }
    pairs += "\n";
    return stream(number,
                  PdfStream{.entries = "/Type /ObjStm /N " + std::to_string(objects.size()) +
                                       " /First " + std::to_string(pairs.size()),
                            .data = pairs + bodies,
                            .deflate = deflate});
}

PdfBuilder &PdfBuilder::encrypt(const PdfEncryption &encryption) {
    using Cipher = PdfEncryption::Cipher;
    const int r = encryption.revision;
    const bool fits = encryption.cipher == Cipher::RC4      ? r >= 2 && r <= 4
                      : encryption.cipher == Cipher::AES128 ? r == 4
                                                            : r == 5 || r == 6;
    if (!fits)
        throw std::invalid_argument("the revision does not fit the cipher");
    // ISO 32000-1, 7.6.1, table 20: /EncryptMetadata means something from /V 4 on.
    if (!encryption.encryptMetadata && r < 4)
        throw std::invalid_argument("/EncryptMetadata false needs revision 4 or later");
    std::string idEntry = "<" + hex(encryption.id) + ">";
    if (encryption.literalId) {
        idEntry = "(";
        for (const char c : encryption.id) {
            const auto byte = static_cast<unsigned char>(c);
            idEntry +=
                {'\\', static_cast<char>('0' + (byte >> 6)),
                 static_cast<char>('0' + ((byte >> 3) & 7)), static_cast<char>('0' + (byte & 7))};
        }
        idEntry += ")";
    }
    // The crypt filters, in place or as an object of their own, and which of them apply.
    const auto cryptFilters = [&](std::string_view method, unsigned keyBytes) {
        const std::string &name = encryption.filterName;
        const std::string filters = "<< /" + name + " << /AuthEvent /" +
                                    (encryption.embeddedFilesOnly ? "EFOpen" : "DocOpen") +
                                    " /CFM /" + std::string(method) + " /Length " +
                                    std::to_string(keyBytes) + " >> >>";
        std::string cf = "/CF " + filters;
        if (encryption.filtersObject != 0) {
            put(encryption.filtersObject, 0, filters);
            cf = "/CF " + std::to_string(encryption.filtersObject) + " 0 R";
        }
        const bool streams = !encryption.embeddedFilesOnly;
        const bool strings = streams && !encryption.clearStrings;
        return cf + " /StmF /" + (streams ? name : "Identity") + " /StrF /" +
               (strings ? name : "Identity") +
               (encryption.embeddedFilesOnly ? " /EFF /" + name : "");
    };
    const std::string permissions = "/P " + std::to_string(encryption.permissions);
    const std::string metadata = encryption.encryptMetadata ? "" : "/EncryptMetadata false";
    std::string key, entries;
    if (encryption.cipher == Cipher::AES256) {
        key = md5("file key one") + md5("file key two");
        std::string keys = aes256Entries(encryption, key);
        if (encryption.emptyUserKey)
            keys.replace(keys.find("/UE <"),
                         keys.find(">", keys.find("/UE <")) - keys.find("/UE <"), "/UE <");
        entries = join({"/Filter /Standard /V 5", "/R " + std::to_string(r), "/Length 256",
                        cryptFilters("AESV3", 32), keys, permissions, metadata});
    } else {
        const unsigned bits = r == 2                                ? 40
                              : encryption.cipher == Cipher::AES128 ? 128
                                                                    : encryption.keyBits;
        if (bits % 8 != 0 || bits < 40 || bits > 128)
            throw std::invalid_argument("RC4 keys are 40 to 128 bits, in bytes");
        const std::string owner = ownerEntry(encryption, bits / 8);
        key = fileKey(encryption, owner, bits / 8);
        const std::string filters =
            r < 4 ? "" : cryptFilters(encryption.cipher == Cipher::AES128 ? "AESV2" : "V2", 16);
        const std::string version = r == 2 ? "/V 1 /R 2" : r == 3 ? "/V 2 /R 3" : "/V 4 /R 4";
        entries = join({"/Filter /Standard", version, "/Length " + std::to_string(bits), filters,
                        "/O <" + hex(owner) + ">", "/U <" + hex(userEntry(encryption, key)) + ">",
                        permissions, metadata});
    }
    put(encryption.objectNumber, 0, "<< " + entries + " >>");
    _security = Security{key,
                         encryption.encryptMetadata,
                         "/Encrypt " + std::to_string(encryption.objectNumber) + " 0 R /ID [" +
                             idEntry + " " + idEntry + "]",
                         encryption.cipher,
                         !encryption.embeddedFilesOnly && !encryption.clearStrings,
                         !encryption.embeddedFilesOnly};
    return *this;
}

// ISO 32000-1, 7.6.2, Algorithm 1; ISO 32000-2, 7.6.3.3, Algorithm 1.A for AES-256.
std::string PdfBuilder::objectKey(std::uint32_t number, std::uint16_t generation) const {
    if (_security->cipher == PdfEncryption::Cipher::AES256)
        return _security->fileKey;
    std::string suffix;
    for (int i = 0; i < 3; ++i)
        suffix += static_cast<char>((number >> (8 * i)) & 0xFF);
    suffix += static_cast<char>(generation & 0xFF);
    suffix += static_cast<char>(generation >> 8);
    if (_security->cipher == PdfEncryption::Cipher::AES128)
        suffix += "sAlT";
    return md5(_security->fileKey + suffix)
        .substr(0, std::min<std::size_t>(_security->fileKey.size() + 5, 16));
}

PdfBuilder &PdfBuilder::inObjectStream(std::uint32_t member, std::uint32_t stream,
                                       std::uint32_t index) {
    list(member, {2, stream, index});
    return *this;
}

PdfBuilder &PdfBuilder::raw(std::string_view bytes) { return append(bytes); }

PdfBuilder &PdfBuilder::rawObject(std::uint32_t number, std::string_view bytes) {
    list(number, {1, _size, 0});
    return append(bytes);
}

PdfBuilder &PdfBuilder::hole(std::uint64_t length) {
    _chunks.back().zeros += length;
    _size += length;
    return *this;
}

std::string PdfBuilder::trailer(std::string_view before, std::string_view entries,
                                std::string_view after) const {
    return dictionary({before, "/Size " + std::to_string(std::uint64_t{_highest} + 1), entries,
                       _firstSection ? "" : "/Prev " + std::to_string(_lastSection),
                       _security ? std::string_view(_security->trailerEntries) : "", after});
}

void PdfBuilder::endSection(std::uint64_t offset) {
    append("startxref\n" + std::to_string(offset) + "\n%%EOF\n");
    _pending.clear();
    _lastSection = offset;
    _firstSection = false;
}

PdfBuilder &PdfBuilder::xrefTable(std::string_view trailerEntries) {
    std::map<std::uint32_t, Row> rows = _pending;
    if (_firstSection)
        rows[0] = {0, 0, 65535};
    const std::uint64_t offset = _size;
    std::string out = "xref\n";
    auto row = rows.begin();
    for (const auto &[first, count] : subsections(rows)) {
        out += std::to_string(first) + " " + std::to_string(count) + "\n";
        for (std::uint32_t i = 0; i < count; ++i, ++row) {
            if (row->second.type == 2)
                throw std::logic_error("a cross-reference table cannot list object " +
                                       std::to_string(row->first) + " of an object stream");
            char line[32];
            std::snprintf(line, sizeof line, "%010llu %05u %c \n",
                          static_cast<unsigned long long>(row->second.field2), row->second.field3,
                          row->second.type == 0 ? 'f' : 'n');
            out += line;
        }
    }
    append(out + "trailer\n" + trailer("", trailerEntries, "") + "\n");
    endSection(offset);
    return *this;
}

PdfBuilder &PdfBuilder::xrefStream(std::uint32_t number, std::string_view trailerEntries,
                                   const PdfXrefStream &layout) {
    const std::uint64_t offset = _size;
    list(number, {1, offset, 0});
    std::map<std::uint32_t, Row> rows = _pending;
    if (_firstSection)
        rows[0] = {0, 0, 65535};

    std::vector<std::uint32_t> widths = layout.widths;
    if (widths.empty()) {
        std::uint64_t field2 = 0, field3 = 0;
        for (const auto &[_, row] : rows) {
            field2 = std::max(field2, row.field2);
            field3 = std::max<std::uint64_t>(field3, row.field3);
        }
        widths = {1, widthOf(field2), widthOf(field3)};
    }
    std::uint32_t columns = 0;
    for (const std::uint32_t width : widths)
        columns += width;

    std::string data, above(columns, '\0');
    for (const auto &[_, entry] : rows) {
        const std::uint64_t fields[] = {entry.type, entry.field2, entry.field3};
        std::string row;
        for (std::size_t field = 0; field < widths.size(); ++field) {
            const std::uint64_t value = field < std::size(fields) ? fields[field] : 0;
            for (std::uint32_t byte = widths[field]; byte-- > 0;)
                row += static_cast<char>(byte < 8 ? (value >> (8 * byte)) & 0xFF : 0);
        }
        if (layout.predictor) {
            // PNG Up (ISO 32000-1, 7.4.4.4): each byte less the one above it, after a tag byte.
            std::string up(1, '\2');
            for (std::size_t i = 0; i < row.size(); ++i)
                up += static_cast<char>(row[i] - above[i]);
            above = row;
            row = up;
        }
        data += row;
    }
    std::string index;
    for (const auto &[first, count] : subsections(rows))
        appendWords(index, {std::to_string(first), std::to_string(count)});
    const bool defaultIndex = rows.begin()->first == 0 && rows.rbegin()->first == _highest &&
                              rows.size() == std::size_t{_highest} + 1;
    if (layout.deflate)
        data = deflated(data);

    std::string w;
    for (const std::uint32_t width : widths)
        appendWords(w, {std::to_string(width)});
    const std::string head =
        trailer(join({"/Type /XRef", "/W [" + w + "]",
                      defaultIndex && !layout.index ? "" : "/Index [" + index + "]",
                      layout.deflate ? "/Filter /FlateDecode" : "",
                      layout.predictor ? "/DecodeParms << /Columns " + std::to_string(columns) +
                                             " /Predictor 12 >>"
                                       : ""}),
                trailerEntries, "/Length " + std::to_string(data.size()));
    // Cross-reference streams are never encrypted (ISO 32000-1, 7.6.1).
    append(std::to_string(number) + " 0 obj\n" + head + "\nstream\n" + data +
           "\nendstream\nendobj\n");
    endSection(offset);
    return *this;
}

std::string PdfBuilder::build(const std::string &trailer) { return xrefTable(trailer).str(); }

std::string PdfBuilder::str() const {
    std::string out;
    out.reserve(static_cast<std::size_t>(_size));
    for (const Chunk &chunk : _chunks) {
        out += chunk.text;
        out.append(static_cast<std::size_t>(chunk.zeros), '\0');
    }
    return out;
}

bool PdfBuilder::write(const std::filesystem::path &path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::uint64_t position = 0;
    for (const Chunk &chunk : _chunks) {
        out.write(chunk.text.data(), static_cast<std::streamsize>(chunk.text.size()));
        position += chunk.text.size() + chunk.zeros;
        if (chunk.zeros != 0)
            out.seekp(static_cast<std::streamoff>(position));
    }
    // A seek alone does not make the file longer: a hole at the end needs its last byte.
    if (_chunks.back().zeros != 0) {
        out.seekp(static_cast<std::streamoff>(position - 1));
        out.put('\0');
    }
    out.close();
    return !out.fail();
}

} // namespace vellumtag::test
