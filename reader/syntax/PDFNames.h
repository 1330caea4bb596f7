#pragma once

#include <string_view>

// The PDF vocabulary that the reader looks up: keys of dictionaries as byte strings (a PDF name
// without its "/"), names that are compared with a value's text as UTF-16, and the keywords of
// the file structure. Nothing else in the reader spells a PDF name.
namespace vellumtag::names {

// File structure (ISO 32000-1, 7.5): the header, cross-reference sections and trailers.
inline constexpr std::string_view kHeader = "%PDF-";
inline constexpr std::string_view kStartxref = "startxref";
inline constexpr std::string_view kXref = "xref";
inline constexpr std::string_view kTrailer = "trailer";
inline constexpr std::string_view kObj = "obj";
inline constexpr std::string_view kStream = "stream";
inline constexpr std::string_view kDictionaryStart = "<<";

// Trailer and cross-reference stream dictionaries (7.5.5, 7.5.8).
inline constexpr std::string_view kPrev = "Prev";
inline constexpr std::string_view kRoot = "Root";
inline constexpr std::string_view kInfo = "Info";
inline constexpr std::string_view kEncrypt = "Encrypt";
inline constexpr std::string_view kId = "ID";
inline constexpr std::string_view kSize = "Size";
inline constexpr std::string_view kIndex = "Index";
inline constexpr std::string_view kW = "W";
inline constexpr std::string_view kXRefStm = "XRefStm";
inline constexpr std::string_view kDecodeParms = "DecodeParms";
inline constexpr std::string_view kPredictor = "Predictor";
// /DecodeParms /Predictor, as a nested dictionary's entry is folded into its parent.
inline constexpr std::string_view kDecodeParmsPredictor = "DecodeParms.Predictor";

// Streams and object streams (7.3.8, 7.5.7).
inline constexpr std::string_view kLength = "Length";
inline constexpr std::string_view kFilter = "Filter";
inline constexpr std::string_view kN = "N";
inline constexpr std::string_view kFirst = "First";
inline constexpr std::u16string_view kFlateDecode = u"FlateDecode";
inline constexpr std::string_view kEndstream = "endstream";
inline constexpr std::u16string_view kObjStmType = u"ObjStm";
inline constexpr std::u16string_view kXRefType = u"XRef";

// Keys whose value is a name read as text (7.3.5); any other name is taken for the next key.
inline constexpr std::string_view kType = "Type";
inline constexpr std::string_view kSubtype = "Subtype";

// The catalog, the page tree and the metadata stream (7.7.2, 7.7.3, 14.3.2).
inline constexpr std::string_view kMetadata = "Metadata";
inline constexpr std::string_view kPages = "Pages";
inline constexpr std::string_view kCount = "Count";
inline constexpr std::string_view kKids = "Kids";
inline constexpr std::u16string_view kCatalogType = u"Catalog";
inline constexpr std::u16string_view kPagesType = u"Pages";
inline constexpr std::u16string_view kPageType = u"Page";
inline constexpr std::u16string_view kMetadataType = u"Metadata";
inline constexpr std::u16string_view kXmlSubtype = u"XML";

// What the document facts read: the catalog's entries (7.7.2, 14.7.1, 12.7.2, 7.7.4), the
// first page's boxes (7.7.3.3, 14.11.2), name trees (7.9.6) and the linearization dictionary
// (Annex F.2.2).
inline constexpr std::string_view kVersion = "Version";
inline constexpr std::string_view kLang = "Lang";
inline constexpr std::string_view kMarkInfo = "MarkInfo";
inline constexpr std::string_view kMarked = "Marked";
inline constexpr std::string_view kAcroForm = "AcroForm";
inline constexpr std::string_view kXfa = "XFA";
inline constexpr std::string_view kNames = "Names";
inline constexpr std::string_view kEmbeddedFiles = "EmbeddedFiles";
inline constexpr std::string_view kMediaBox = "MediaBox";
inline constexpr std::string_view kCropBox = "CropBox";
inline constexpr std::string_view kRotate = "Rotate";
inline constexpr std::string_view kLinearized = "Linearized";
inline constexpr std::string_view kL = "L";

// The document information dictionary (14.3.3), and the page count the reader adds to it.
inline constexpr std::string_view kTitle = "Title";
inline constexpr std::string_view kAuthor = "Author";
inline constexpr std::string_view kSubject = "Subject";
inline constexpr std::string_view kKeywords = "Keywords";
inline constexpr std::string_view kCreator = "Creator";
inline constexpr std::string_view kProducer = "Producer";
inline constexpr std::string_view kCreationDate = "CreationDate";
inline constexpr std::string_view kModDate = "ModDate";
inline constexpr std::string_view kPageCount = "PageCount";

// The Standard security handler's encryption dictionary (7.6.1, 7.6.3.2; ISO 32000-2,
// 7.6.4.2) and its crypt filters (7.6.5).
inline constexpr std::string_view kEncryptMetadata = "EncryptMetadata";
inline constexpr std::string_view kV = "V";
inline constexpr std::string_view kR = "R";
inline constexpr std::string_view kO = "O";
inline constexpr std::string_view kU = "U";
inline constexpr std::string_view kP = "P";
inline constexpr std::string_view kOE = "OE";
inline constexpr std::string_view kUE = "UE";
inline constexpr std::string_view kPerms = "Perms";
inline constexpr std::string_view kCF = "CF";
inline constexpr std::string_view kCFM = "CFM";
inline constexpr std::string_view kStmF = "StmF";
inline constexpr std::string_view kStrF = "StrF";
inline constexpr std::string_view kEFF = "EFF";
// A stream's own crypt filter (7.4.10): /Filter /Crypt with /DecodeParms /Name.
inline constexpr std::u16string_view kCrypt = u"Crypt";
inline constexpr std::string_view kName = "Name";
inline constexpr std::string_view kIdentity8 = "Identity";
inline constexpr std::u16string_view kStandard = u"Standard";
inline constexpr std::u16string_view kIdentity = u"Identity";
inline constexpr std::u16string_view kCfmNone = u"None";
inline constexpr std::u16string_view kCfmV2 = u"V2";
inline constexpr std::u16string_view kCfmAesV2 = u"AESV2";
inline constexpr std::u16string_view kCfmAesV3 = u"AESV3";
inline constexpr std::u16string_view kTrue = u"true";
inline constexpr std::u16string_view kFalse = u"false";

} // namespace vellumtag::names
