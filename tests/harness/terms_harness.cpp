#include "terms_harness.h"

#include <windows.h>

#include <utility>

#include "config/config_file.h"
#include "platform/automation.h"

namespace qp::harness {
using namespace qp::platform;
using namespace qp::config;

void ScriptedTermsDialog::Show(const std::function<bool()>& confirm) {
  ++shown;
  if (beforeOk) beforeOk();
  confirmed_ = confirm();
  if (!confirmed_) {
    ++refused;
    if (afterRefusal) afterRefusal();
    confirmed_ = confirm();
  }
}

TermEdit Added(const std::wstring& text, bool enabled) {
  return {L"", false, text, enabled, false};
}
TermEdit Changed(const std::wstring& term, const std::wstring& text, bool enabled,
                 bool checkChanged) {
  return {term, false, text, enabled, checkChanged};
}
TermEdit Deleted(const std::wstring& term) {
  return {term, true, term, true, false};
}

namespace {

std::string Utf16(const std::string& ascii, bool bigEndian, bool mark) {
  std::string out = mark ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
  for (char c : ascii) {
    out += bigEndian ? '\0' : c;
    out += bigEndian ? c : '\0';
  }
  return out;
}

std::string Repeat(const std::string& s, size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  while (n--)
    out += s;
  return out;
}

}  // namespace

std::vector<DamagedConfig> DamagedConfigs() {
  const std::string good = WideToAnsi(CleanDefaultConfig(DefaultConfigResource()));
  const size_t root = good.find("<SmartTagConfig>");
  const std::string comment = good.substr(0, root), body = good.substr(root);
  std::vector<DamagedConfig> cases;
  auto add = [&](std::string name, std::string bytes, StoreAnswer answer) {
    cases.push_back({std::move(name), std::move(bytes), answer});
  };

  // Damaged: cut short, bytes flipped or lost, noise, a second root.
  add("empty", "", StoreAnswer::kMalformed);
  add("white space only", " \r\n\t ", StoreAnswer::kMalformed);
  for (int percent : {1, 10, 25, 50, 75, 90, 99})
    add("cut short at " + std::to_string(percent) + "%",
        good.substr(0, good.size() * percent / 100), StoreAnswer::kMalformed);
  add("cut short by one byte", good.substr(0, good.size() - 1), StoreAnswer::kMalformed);
  for (const char* mark : {"<Caption>", "</Recognizer>", "Enabled=\"", "<!--", "</SmartTagConfig>"})
    for (char to : {'\xFF', '\0', '{'}) {
      std::string flipped = good;
      flipped[good.find(mark) + 1] = to;
      add(std::string("byte ") + std::to_string(static_cast<unsigned char>(to)) + " in " + mark,
          flipped, StoreAnswer::kMalformed);
    }
  std::string noise(8192, '\0');
  for (size_t i = 0, x = 12345; i < noise.size(); ++i)
    noise[i] = static_cast<char>((x = x * 1103515245 + 12345) >> 16);
  add("noise", noise, StoreAnswer::kMalformed);
  add("noise after the document", good + noise.substr(0, 100), StoreAnswer::kMalformed);
  add("a second root", good + "<SmartTagConfig/>", StoreAnswer::kMalformed);
  add("text before the root", "Norvane" + body, StoreAnswer::kMalformed);
  add("UTF-16 mark on single bytes", "\xFF\xFE" + good, StoreAnswer::kMalformed);
  add("UTF-8 mark on UTF-16", "\xEF\xBB\xBF" + Utf16(good, false, false), StoreAnswer::kMalformed);
  add("unknown encoding", "<?xml version=\"1.0\" encoding=\"x-no-such-encoding\"?>" + body,
      StoreAnswer::kMalformed);
  add("UTF-32", Utf16(Utf16(good, false, false), false, false), StoreAnswer::kMalformed);
  add("deep and cut short", Repeat("<a>", 100000), StoreAnswer::kMalformed);
  add("huge and cut short at the end",
      body.substr(0, body.size() - 30) + Repeat("<!-- padding -->", 300000),
      StoreAnswer::kMalformed);

  // Not damaged, only other: other encodings and structures, huge and deep documents.
  add("UTF-16 with mark", Utf16(good, false, true), StoreAnswer::kReads);
  add("UTF-16 big-endian with mark", Utf16(good, true, true), StoreAnswer::kReads);
  add("UTF-8 with mark and declaration",
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + good, StoreAnswer::kReads);
  add("a comment naming a declaration", "<!-- <!DOCTYPE SmartTagConfig> -->" + good,
      StoreAnswer::kReads);
  add("no terms", "<SmartTagConfig><Caption>x</Caption></SmartTagConfig>", StoreAnswer::kReads);
  add("another root", "<Configuration><Recognizer ClassCode=\"LI\">x</Recognizer></Configuration>",
      StoreAnswer::kReads);
  const size_t terms = body.find("</Recognizers>");
  add("huge: 20,000 terms",
      comment + body.substr(0, terms) +
          Repeat("<Recognizer ClassCode=\"LI\" Enabled=\"Yes\" CaseSensitive=\"Yes\" Mask=\"\">"
                 "TERM</Recognizer>\r\n",
                 20000) +
          body.substr(terms),
      StoreAnswer::kReads);
  const size_t nameExt = body.find("<NameExt/>");
  add("deep: 200 levels",
      comment + body.substr(0, nameExt) + Repeat("<a>", 200) + Repeat("</a>", 200) +
          body.substr(nameExt),
      StoreAnswer::kReads);

  // Hostile: a document type declaration, whatever it declares, wherever before the root and
  // however the file is encoded.
  const std::string big(50000, 'x');
  const std::string expansion = "<!DOCTYPE SmartTagConfig [<!ENTITY e \"" + big + "\">]>\r\n" +
                                "<SmartTagConfig><Caption>" + Repeat("&e;", 2000) +
                                "</Caption></SmartTagConfig>";
  std::string laughs = "<!DOCTYPE SmartTagConfig [<!ENTITY l0 \"lol\">";
  for (int i = 1; i <= 10; ++i)
    laughs += "<!ENTITY l" + std::to_string(i) + " \"" +
              Repeat("&l" + std::to_string(i - 1) + ";", 10) + "\">";
  laughs += "]><SmartTagConfig><Caption>&l10;</Caption></SmartTagConfig>";
  const std::string declarations[][2] = {
      {"entity used 2,000 times (100 million characters)", expansion},
      {"nested entities (a billion laughs)", laughs},
      {"external entity",
       "<!DOCTYPE SmartTagConfig [<!ENTITY e SYSTEM "
       "\"file:///C:/windows/win.ini\">]>\r\n" +
           body.substr(0, 40) + "&e;" + body.substr(40)},
      {"external declarations", "<!DOCTYPE SmartTagConfig SYSTEM \"nvstagQP.dtd\">" + body},
      {"parameter entity", "<!DOCTYPE SmartTagConfig [<!ENTITY % p SYSTEM \"p.dtd\"> %p;]>" + body},
      {"empty declaration", "<!DOCTYPE SmartTagConfig>" + body},
      {"lower case", "<!doctype SmartTagConfig>" + body},
  };
  const std::string prologs[][2] = {
      {"at the start", ""},
      {"after the XML declaration", "<?xml version=\"1.0\"?>\r\n"},
      {"after comments and an instruction",
       "<?xml version=\"1.0\"?>" + comment + "<!-- <!DOCTYPE x> -->\r\n<?qp x?>\r\n"},
  };
  for (const auto& [what, text] : declarations)
    for (const auto& [where, prolog] : prologs)
      add(std::string("declaration, ") + what + ", " + where, prolog + text,
          StoreAnswer::kDocumentType);
  const std::string doctype = "<!DOCTYPE SmartTagConfig [<!ENTITY e \"x\">]>\r\n" + body;
  auto declared = [&](const char* encoding) {
    return std::string("<?xml version=\"1.0\" encoding=\"") + encoding + "\"?>\r\n" + comment +
           doctype;
  };
  add("declaration in UTF-8 with mark", "\xEF\xBB\xBF" + declared("UTF-8"),
      StoreAnswer::kDocumentType);
  add("declaration in UTF-16 with mark", Utf16(declared("UTF-16"), false, true),
      StoreAnswer::kDocumentType);
  add("declaration in UTF-16 big-endian with mark", Utf16(declared("UTF-16"), true, true),
      StoreAnswer::kDocumentType);
  add("declaration in UTF-16 without mark", Utf16(declared("UTF-16"), false, false),
      StoreAnswer::kDocumentType);
  add("declaration in UTF-16 big-endian without mark", Utf16(declared("UTF-16"), true, false),
      StoreAnswer::kDocumentType);
  for (const char* encoding : {"ISO-8859-1", "windows-1252", "US-ASCII", "Shift_JIS"})
    add(std::string("declaration, declared ") + encoding, declared(encoding),
        StoreAnswer::kDocumentType);
  add("declaration, declared UTF-7",
      "<?xml version=\"1.0\" encoding=\"UTF-7\"?>+ADw-!DOCTYPE SmartTagConfig+AD4-" + body,
      StoreAnswer::kDocumentType);
  return cases;
}

}  // namespace qp::harness
