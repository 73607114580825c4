// The MIME table: built-in lines, the platform's registrations, and the lookup by extension.
#include "service/TNetMimeTable.h"

#include <iterator>

#include "http/NetExceptions.h"
#include "platform/ContentTypes.h"
#include "runtime/Text.h"

namespace service {
namespace {

// Grouped by top-level type: animation, audio, image, text, video, application, then further
// application and text entries. Three extensions occur twice; the earlier line wins.
constexpr const char* kBuiltInLines[] = {
    ".nml=animation/narrative",
    ".aiff=audio/aiff",
    ".au=audio/basic",
    ".mid=audio/midi",
    ".mp3=audio/x-mpg",
    ".m3u=audio/x-mpegurl",
    ".qcp=audio/vnd.qcelp",
    ".ra=audio/x-realaudio",
    ".wav=audio/wav",
    ".gsm=audio/x-gsm",
    ".wax=audio/x-ms-wax",
    ".wma=audio/x-ms-wma",
    ".ram=audio/x-pn-realaudio",
    ".mjf=audio/x-vnd.audioexplosion.mjuicemediafile",
    ".bmp=image/bmp",
    ".gif=image/gif",
    ".jpg=image/jpeg",
    ".jpeg=image/jpeg",
    ".jpe=image/jpeg",
    ".pict=image/pict",
    ".png=image/x-png",
    ".svg=image/svg+xml",
    ".tif=image/tiff",
    ".rf=image/vnd.rn-realflash",
    ".rp=image/vnd.rn-realpix",
    ".ico=image/x-icon",
    ".art=image/x-jg",
    ".pntg=image/x-macpaint",
    ".qtif=image/x-quicktime",
    ".sgi=image/x-sgi",
    ".targa=image/x-targa",
    ".xbm=image/xbm",
    ".psd=image/x-psd",
    ".pnm=image/x-portable-anymap",
    ".pbm=image/x-portable-bitmap",
    ".pgm=image/x-portable-graymap",
    ".ppm=image/x-portable-pixmap",
    ".rgb=image/x-rgb",
    ".xbm=image/x-xbitmap",
    ".xpm=image/x-xpixmap",
    ".xwd=image/x-xwindowdump",
    ".323=text/h323",
    ".xml=text/xml",
    ".uls=text/iuls",
    ".txt=text/plain",
    ".rtx=text/richtext",
    ".wsc=text/scriptlet",
    ".rt=text/vnd.rn-realtext",
    ".htt=text/webviewhtml",
    ".htc=text/x-component",
    ".vcf=text/x-vcard",
    ".avi=video/avi",
    ".flc=video/flc",
    ".mp2=video/mpeg",
    ".mp3=video/mpeg",
    ".mp4=video/mp4",
    ".mpeg=video/mpeg",
    ".mpa=video/mpeg",
    ".mpe=video/mpeg",
    ".mpg=video/mpeg",
    ".mov=video/quicktime",
    ".rv=video/vnd.rn-realvideo",
    ".ivf=video/x-ivf",
    ".wm=video/x-ms-wm",
    ".wmp=video/x-ms-wmp",
    ".wmv=video/x-ms-wmv",
    ".wmx=video/x-ms-wmx",
    ".wvx=video/x-ms-wvx",
    ".rms=video/vnd.rn-realvideo-secure",
    ".asx=video/x-ms-asf-plugin",
    ".movie=video/x-sgi-movie",
    ".aab=application/x-authorware-bin",
    ".aam=application/x-authorware-map",
    ".aas=application/x-authorware-seg",
    ".abw=application/x-abiword",
    ".ai=application/postscript",
    ".arj=application/x-arj",
    ".asf=application/vnd.ms-asf",
    ".bat=application/x-bat",
    ".bcpio=application/x-bcpio",
    ".bz2=application/x-bzip2",
    ".cab=application/vnd.ms-cab-compressed",
    ".cat=application/vnd.ms-pki.seccat",
    ".ccn=application/x-cnc",
    ".cco=application/x-cocoa",
    ".cdf=application/x-cdf",
    ".cer=application/x-x509-ca-cert",
    ".chm=application/vnd.ms-htmlhelp",
    ".chrt=application/vnd.kde.kchart",
    ".cil=application/vnd.ms-artgalry",
    ".class=application/java-vm",
    ".com=application/x-msdownload",
    ".clp=application/x-msclip",
    ".cpio=application/x-cpio",
    ".cpt=application/mac-compactpro",
    ".cqk=application/x-calquick",
    ".crd=application/x-mscardfile",
    ".crl=application/pkix-crl",
    ".csh=application/x-csh",
    ".dbf=application/dbf",
    ".dcr=application/x-director",
    ".deb=application/x-debian-package",
    ".dir=application/x-director",
    ".dist=application/octet-stream",
    ".distz=application/octet-stream",
    ".dll=application/x-msdownload",
    ".dmg=application/x-apple-diskimage",
    ".doc=application/msword",
    ".dot=application/msword",
    ".dvi=application/x-dvi",
    ".dxr=application/x-director",
    ".ebk=application/x-expandedbook",
    ".eps=application/postscript",
    ".evy=application/envoy",
    ".exe=application/x-msdownload",
    ".fdf=application/vnd.fdf",
    ".fif=application/fractals",
    ".flm=application/vnd.kde.kivio",
    ".fml=application/x-file-mirror-list",
    ".gnumeric=application/x-gnumeric",
    ".gtar=application/x-gtar",
    ".gz=application/x-gzip",
    ".hdf=application/x-hdf",
    ".hlp=application/winhlp",
    ".hpf=application/x-icq-hpf",
    ".hqx=application/mac-binhex40",
    ".hta=application/hta",
    ".ims=application/vnd.ms-ims",
    ".ins=application/x-internet-signup",
    ".iii=application/x-iphone",
    ".iso=application/x-iso9660-image",
    ".jar=application/java-archive",
    ".karbon=application/vnd.kde.karbon",
    ".kfo=application/vnd.kde.kformula",
    ".kon=application/vnd.kde.kontour",
    ".kpr=application/vnd.kde.kpresenter",
    ".kpt=application/vnd.kde.kpresenter",
    ".kwd=application/vnd.kde.kword",
    ".kwt=application/vnd.kde.kword",
    ".latex=application/x-latex",
    ".lha=application/x-lzh",
    ".lcc=application/fastman",
    ".lrm=application/vnd.ms-lrm",
    ".lzh=application/x-lzh",
    ".m13=application/x-msmediaview",
    ".m14=application/x-msmediaview",
    ".mpp=application/vnd.ms-project",
    ".mvb=application/x-msmediaview",
    ".man=application/x-troff-man",
    ".mdb=application/x-msaccess",
    ".me=application/x-troff-me",
    ".ms=application/x-troff-ms",
    ".msi=application/x-msi",
    ".mpkg=application/vnd.apple.installer+xml",
    ".mny=application/x-msmoney",
    ".nix=application/x-mix-transfer",
    ".o=application/x-object",
    ".oda=application/oda",
    ".odb=application/vnd.oasis.opendocument.database",
    ".odc=application/vnd.oasis.opendocument.chart",
    ".odf=application/vnd.oasis.opendocument.formula",
    ".odg=application/vnd.oasis.opendocument.graphics",
    ".odi=application/vnd.oasis.opendocument.image",
    ".odm=application/vnd.oasis.opendocument.text-master",
    ".odp=application/vnd.oasis.opendocument.presentation",
    ".ods=application/vnd.oasis.opendocument.spreadsheet",
    ".ogg=application/ogg",
    ".odt=application/vnd.oasis.opendocument.text",
    ".otg=application/vnd.oasis.opendocument.graphics-template",
    ".oth=application/vnd.oasis.opendocument.text-web",
    ".otp=application/vnd.oasis.opendocument.presentation-template",
    ".ots=application/vnd.oasis.opendocument.spreadsheet-template",
    ".ott=application/vnd.oasis.opendocument.text-template",
    ".p10=application/pkcs10",
    ".p12=application/x-pkcs12",
    ".p7b=application/x-pkcs7-certificates",
    ".p7m=application/pkcs7-mime",
    ".p7r=application/x-pkcs7-certreqresp",
    ".p7s=application/pkcs7-signature",
    ".package=application/vnd.autopackage",
    ".pfr=application/font-tdpfr",
    ".pkg=application/x-newton-compatible-pkg",
    ".pdf=application/pdf",
    ".pko=application/vnd.ms-pki.pko",
    ".pl=application/x-perl",
    ".pnq=application/x-icq-pnq",
    ".pot=application/mspowerpoint",
    ".pps=application/mspowerpoint",
    ".ppt=application/mspowerpoint",
    ".ppz=application/mspowerpoint",
    ".ps=application/postscript",
    ".pub=application/x-mspublisher",
    ".qpw=application/x-quattropro",
    ".qtl=application/x-quicktimeplayer",
    ".rar=application/x-rar-compressed",
    ".rdf=application/rdf+xml",
    ".rjs=application/vnd.rn-realsystem-rjs",
    ".rm=application/vnd.rn-realmedia",
    ".rmf=application/vnd.rmf",
    ".rmp=application/vnd.rn-rn_music_package",
    ".rmx=application/vnd.rn-realsystem-rmx",
    ".rnx=application/vnd.rn-realplayer",
    ".rpm=application/x-redhat-package-manager",
    ".rsml=application/vnd.rn-rsml",
    ".rtsp=application/x-rtsp",
    ".rss=application/rss+xml",
    ".scm=application/x-icq-scm",
    ".ser=application/java-serialized-object",
    ".sh=application/x-sh",
    ".shar=application/x-shar",
    ".scd=application/x-msschedule",
    ".sda=application/vnd.stardivision.draw",
    ".sdc=application/vnd.stardivision.calc",
    ".sdd=application/vnd.stardivision.impress",
    ".sdp=application/x-sdp",
    ".setpay=application/set-payment-initiation",
    ".setreg=application/set-registration-initiation",
    ".shw=application/presentations",
    ".sit=application/x-stuffit",
    ".skd=application/x-koan",
    ".skm=application/x-koan",
    ".skp=application/x-koan",
    ".skt=application/x-koan",
    ".smf=application/vnd.stardivision.math",
    ".smi=application/smil",
    ".smil=application/smil",
    ".spl=application/futuresplash",
    ".ssm=application/streamingmedia",
    ".sst=application/vnd.ms-pki.certstore",
    ".stc=application/vnd.sun.xml.calc.template",
    ".std=application/vnd.sun.xml.draw.template",
    ".sti=application/vnd.sun.xml.impress.template",
    ".stl=application/vnd.ms-pki.stl",
    ".stw=application/vnd.sun.xml.writer.template",
    ".svi=application/softvision",
    ".sv4cpio=application/x-sv4cpio",
    ".sv4crc=application/x-sv4crc",
    ".swf=application/x-shockwave-flash",
    ".sxc=application/vnd.sun.xml.calc",
    ".sxi=application/vnd.sun.xml.impress",
    ".sxm=application/vnd.sun.xml.math",
    ".sxw=application/vnd.sun.xml.writer",
    ".sxg=application/vnd.sun.xml.writer.global",
    ".t=application/x-troff",
    ".tar=application/x-tar",
    ".tcl=application/x-tcl",
    ".tex=application/x-tex",
    ".texi=application/x-texinfo",
    ".texinfo=application/x-texinfo",
    ".tr=application/x-troff",
    ".trm=application/x-msterminal",
    ".troff=application/x-troff",
    ".tsp=application/dsptype",
    ".tgz=application/x-compressed",
    ".torrent=application/x-bittorrent",
    ".ttz=application/t-time",
    ".uin=application/x-icq",
    ".urls=application/x-url-list",
    ".ustar=application/x-ustar",
    ".vcd=application/x-cdlink",
    ".vor=application/vnd.stardivision.writer",
    ".vsl=application/x-cnet-vsl",
    ".wcm=application/vnd.ms-works",
    ".wb1=application/x-quattropro",
    ".wb2=application/x-quattropro",
    ".wb3=application/x-quattropro",
    ".wdb=application/vnd.ms-works",
    ".wks=application/vnd.ms-works",
    ".wmd=application/x-ms-wmd",
    ".wms=application/x-ms-wms",
    ".wmz=application/x-ms-wmz",
    ".wp5=application/wordperfect5.1",
    ".wpd=application/wordperfect",
    ".wpl=application/vnd.ms-wpl",
    ".wps=application/vnd.ms-works",
    ".wri=application/x-mswrite",
    ".xfdf=application/vnd.adobe.xfdf",
    ".xls=application/x-msexcel",
    ".xlb=application/x-msexcel",
    ".xpi=application/x-xpinstall",
    ".xps=application/vnd.ms-xpsdocument",
    ".xsd=application/xml",
    ".xul=application/vnd.mozilla.xul+xml",
    ".z=application/x-compress",
    ".zoo=application/x-zoo",
    ".zip=application/x-zip-compressed",
    ".wbmp=image/vnd.wap.wbmp",
    ".wml=text/vnd.wap.wml",
    ".wmlc=application/vnd.wap.wmlc",
    ".wmls=text/vnd.wap.wmlscript",
    ".wmlsc=application/vnd.wap.wmlscriptc",
    ".p=text/x-pascal",
    ".pas=text/x-pascal",
    ".h++=text/x-c++hdr",
    ".hpp=text/x-c++hdr",
    ".hxx=text/x-c++hdr",
    ".hh=text/x-c++hdr",
    ".c++=text/x-c++src",
    ".cpp=text/x-c++src",
    ".cxx=text/x-c++src",
    ".cc=text/x-c++src",
    ".h=text/x-chdr",
    ".c=text/x-csrc",
    ".java=text/x-java",
    ".css=text/css",
    ".js=text/javascript",
    ".htm=text/html",
    ".html=text/html",
    ".ls=text/javascript",
    ".mocha=text/javascript",
    ".shtml=text/html",
    ".xml=text/xml",
    ".sgm=text/sgml",
    ".sgml=text/sgml",
};
static_assert(std::size(kBuiltInLines) == 314);

constexpr char16_t kDefaultType[] = u"application/octet-stream";

std::u16string nameOf(const std::u16string& line) { return line.substr(0, line.find(u'=')); }

// The lower-case extension of a path: the text from its last "." on, when no "\", ":" or "/"
// follows it ("/" separates folders on POSIX systems as "\" does on Windows; a dot in a folder
// name is not the file's extension on either).
std::u16string extensionOf(std::u16string_view path) {
  const auto dot = path.rfind(u'.');
  if (dot == std::u16string_view::npos || path.find_first_of(u"\\:/", dot) != std::u16string_view::npos) return {};
  return rt::lowerCase(path.substr(dot));
}

bool sameLowerCase(std::u16string_view text, const std::u16string& lower) {
  return text.size() == lower.size() && rt::lowerCase(text) == lower;
}

}  // namespace

void FillMimeList(rt::TStringList* list, bool fromPlatform) {
  if (list == nullptr || list->Count() > 0) return;
  for (const char* line : kBuiltInLines) list->Add(rt::u16(line));
  if (!fromPlatform) return;

  // Each registration sets the value of the first line of its extension. The names are kept
  // lower-case, so an index by name finds that line without a scan per registration.
  std::unordered_map<std::u16string, int> firstLine;
  for (int i = 0; i < list->Count(); ++i) firstLine.emplace(rt::lowerCase(nameOf((*list)[i])), i);
  platform::enumerateContentTypes([&](const std::u16string& extension, const std::u16string& type) {
    const std::u16string name = rt::lowerCase(extension);
    const std::u16string value = rt::lowerCase(type);
    if (value.empty()) return;
    std::u16string line = name + u"=" + value;
    const auto found = firstLine.find(name);
    if (found != firstLine.end()) {
      (*list)[found->second] = std::move(line);
      return;
    }
    firstLine.emplace(name, list->Add(std::move(line)));
  });
}

TNetMimeTable::TNetMimeTable(bool fillNow) {
  if (fillNow) EnsureFilled();
}

void TNetMimeTable::BuildDefaultTable() {
  rt::TStringList lines;
  FillMimeList(&lines, LoadFromPlatform);
  LoadMimePairs(lines, u'=');
}

void TNetMimeTable::EnsureFilled() {
  if (OnBuildCache) {
    OnBuildCache(*this);
    return;
  }
  if (extensions_.Count() == 0) BuildDefaultTable();
}

int TNetMimeTable::indexOf(const std::u16string& lowerExtension) const {
  const auto found = index_.find(lowerExtension);
  return found == index_.end() ? -1 : found->second;
}

std::u16string TNetMimeTable::LookupMimeType(std::u16string_view path) {
  const std::u16string extension = extensionOf(path);
  int at = indexOf(extension);
  if (at < 0) {
    EnsureFilled();
    at = indexOf(extension);
  }
  return at < 0 ? std::u16string(kDefaultType) : types_[at];
}

void TNetMimeTable::LoadMimePairs(const rt::TStringList& lines, char16_t separator) {
  extensions_.Clear();
  types_.Clear();
  index_.clear();
  for (const std::u16string& line : lines) {
    const auto at = line.find(separator);
    if (at == std::u16string::npos) continue;
    AddMimePair(rt::lowerCase(std::u16string_view(line).substr(0, at)), std::u16string_view(line).substr(at + 1),
                false);
  }
}

void TNetMimeTable::AddMimePair(std::u16string_view extension, std::u16string_view mimeType, bool raiseOnError) {
  std::u16string ext = rt::lowerCase(extension);
  std::u16string type = rt::lowerCase(mimeType);
  const char16_t* failure = nullptr;
  if (ext.empty()) {
    failure = u"Extension is empty";
  } else if (type.empty()) {
    failure = u"Mimetype is empty";
  } else {
    if (ext.front() != u'.') ext.insert(ext.begin(), u'.');
    if (indexOf(ext) >= 0) failure = u"Extension already exits";
  }
  if (failure != nullptr) {
    if (raiseOnError) throw net::ENetException(failure);
    return;
  }
  index_.emplace(ext, extensions_.Add(ext));
  types_.Add(std::move(type));
}

// The answer of a freshly filled table asked once, found without building the table: the platform's
// last registration of the extension (each one replaces the line of its extension), else the
// first built-in line for it (the earlier line wins), else the default. Every upload asks once,
// so this keeps the per-upload cost to one read of the platform's table.
std::u16string MimeTypeForFile(std::u16string_view path) {
  const std::u16string extension = extensionOf(path);
  if (extension.empty()) return kDefaultType;
  std::u16string registered;
  platform::enumerateContentTypes(
      [&](const std::u16string& name, const std::u16string& type) {
        if (!type.empty() && sameLowerCase(name, extension)) registered = rt::lowerCase(type);
      },
      extension);
  if (!registered.empty()) return registered;
  for (const char* line : kBuiltInLines) {
    const std::u16string text = rt::u16(line);
    const auto separator = text.find(u'=');
    if (sameLowerCase(std::u16string_view(text).substr(0, separator), extension)) return text.substr(separator + 1);
  }
  return kDefaultType;
}

}  // namespace service
