// The host table's field symbols, one table row each, and the value syntax they share. The
// table holds what each symbol sets; the small functions below hold how.
#include "bootp/symbols.h"

#include <cctype>
#include <charconv>

#include "bootp/hw_address.h"
#include "bootp/message.h"
#include "bootp/report.h"
#include "core/flash_state.h"
#include "platform/net.h"

namespace bootp {

namespace {

enum class Operator : std::uint8_t { Set, Remove, Switch };

enum class ValueKind : std::uint8_t { Text, AddressList, Address, Special };

using SpecialHandler = SymbolResult (*)(Operator op, Cursor& cursor, HostEntry& entry,
                                        const SymbolContext& context);

struct Symbol {
  const char* name;
  ValueKind kind;
  Flag flag;
  TextRef HostEntry::*text = nullptr;
  AddressListRef HostEntry::*list = nullptr;
  std::uint32_t HostEntry::*address = nullptr;
  SpecialHandler special = nullptr;
};

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
bool is_hex_digit(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}
bool is_blank(char c) {
  return c == ' ' || c == '\t';
}
bool is_letter(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) != 0;
}
bool is_letter_or_digit(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

int hex_value(char c) {
  if (is_digit(c)) return c - '0';
  return std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
}

bool starts_with(const Cursor& cursor, std::string_view prefix) {
  return cursor.rest().starts_with(prefix);
}

// One hardware address byte: an optional "0x" or "0X", then exactly two hex digits.
std::optional<std::uint8_t> parse_hex_byte(Cursor& cursor) {
  const std::size_t start = cursor.position();
  if (cursor.peek() == '0' && (cursor.peek(1) == 'x' || cursor.peek(1) == 'X')) cursor.advance(2);
  if (!is_hex_digit(cursor.peek()) || !is_hex_digit(cursor.peek(1))) {
    cursor.set_position(start);
    return std::nullopt;
  }
  const int value = hex_value(cursor.peek()) * 16 + hex_value(cursor.peek(1));
  cursor.advance(2);
  return static_cast<std::uint8_t>(value);
}

// --- symbols with their own rules ---

SymbolResult apply_boot_size(Operator op, Cursor& cursor, HostEntry& entry, const SymbolContext&) {
  if (op == Operator::Remove) {
    entry.clear(Flag::BootSize);
    return SymbolResult::Applied;
  }
  entry.set(Flag::BootSize);
  if (op == Operator::Switch || starts_with(cursor, "auto")) {
    entry.set(Flag::BootSizeAuto);
    return SymbolResult::Applied;
  }
  entry.bootSize = parse_number(cursor);
  entry.clear(Flag::BootSizeAuto);
  return SymbolResult::Applied;
}

SymbolResult refuse_exec_file(Operator, Cursor&, HostEntry&, const SymbolContext&) {
  return SymbolResult::UnknownSymbol;
}

SymbolResult apply_hw_address(Operator op, Cursor& cursor, HostEntry& entry, const SymbolContext&) {
  if (op == Operator::Switch) return SymbolResult::BadSyntax;
  if (op == Operator::Remove) {
    entry.clear(Flag::HwAddress);
    return SymbolResult::Applied;
  }
  if (!entry.has(Flag::HwType)) {
    entry.hwType = 1;
    entry.set(Flag::HwType);
  }
  const auto address = parse_hw_address(cursor, entry.hwType);
  if (!address) return SymbolResult::BadHwAddress;
  entry.hwAddress = *address;
  entry.set(Flag::HwAddress);
  return SymbolResult::Applied;
}

SymbolResult apply_host_name_switch(Operator op, Cursor&, HostEntry& entry, const SymbolContext&) {
  if (op == Operator::Set) return SymbolResult::BadSyntax;
  const bool on = op == Operator::Switch;
  entry.assign(Flag::HostNameSwitch, on);
  entry.assign(Flag::SendHostName, on);
  return SymbolResult::Applied;
}

SymbolResult apply_hw_type(Operator op, Cursor& cursor, HostEntry& entry, const SymbolContext&) {
  if (op == Operator::Switch) return SymbolResult::BadSyntax;
  if (op == Operator::Remove) {
    entry.clear(Flag::HwType);
    return SymbolResult::Applied;
  }
  std::uint32_t type = 0;
  if (is_digit(cursor.peek())) {
    type = parse_number(cursor);
  } else {
    std::string name = take_text(cursor);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    type = hw_type_from_name(name);
  }
  if (type >= kHardwareTypes.size()) return SymbolResult::BadHwType;
  entry.hwType = static_cast<std::uint8_t>(type);
  entry.set(Flag::HwType);
  return SymbolResult::Applied;
}

// The address written in the file only has to be well formed: every entry gets the address
// that the main dialog chose for the board.
SymbolResult apply_ip_address(Operator op, Cursor& cursor, HostEntry& entry, const SymbolContext&) {
  if (op == Operator::Switch) return SymbolResult::BadSyntax;
  if (op == Operator::Set) {
    if (!parse_inet_address(cursor)) return SymbolResult::BadAddress;
    entry.set(Flag::IpAddress);
  } else {
    entry.clear(Flag::IpAddress);
  }
  entry.ipAddress = flash_state().clientAddress.load();
  return SymbolResult::Applied;
}

SymbolResult apply_message_size(Operator op, Cursor& cursor, HostEntry& entry,
                                const SymbolContext&) {
  if (op == Operator::Switch) return SymbolResult::BadSyntax;
  if (op == Operator::Set) {
    entry.messageSize = parse_number(cursor);
    entry.set(Flag::MessageSize);
  } else {
    entry.clear(Flag::MessageSize);
  }
  if (entry.messageSize < kMinimumMessage || entry.messageSize > kPacketSize)
    return SymbolResult::Other;
  return SymbolResult::Applied;
}

SymbolResult apply_min_wait(Operator op, Cursor& cursor, HostEntry& entry, const SymbolContext&) {
  if (op == Operator::Switch) return SymbolResult::BadSyntax;
  if (op == Operator::Set) {
    entry.minWait = parse_number(cursor);
    entry.set(Flag::MinWait);
  } else {
    entry.clear(Flag::MinWait);
  }
  return SymbolResult::Applied;
}

SymbolResult apply_template(Operator op, Cursor& cursor, HostEntry& entry,
                            const SymbolContext& context) {
  if (op != Operator::Set) return SymbolResult::BadSyntax;
  inherit_template(entry, cursor, context);
  return SymbolResult::Applied;
}

// A signed decimal number filling the whole text, within 32 bits.
std::optional<std::int32_t> parse_signed_decimal(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

SymbolResult apply_time_offset(Operator op, Cursor& cursor, HostEntry& entry,
                               const SymbolContext& context) {
  if (op == Operator::Switch) return SymbolResult::BadSyntax;
  if (op == Operator::Remove) {
    entry.clear(Flag::TimeOffset);
    return SymbolResult::Applied;
  }
  const std::string text = take_text(cursor);
  if (text.starts_with("auto")) {
    entry.timeOffset = context.secondsWest;
  } else {
    const auto value = parse_signed_decimal(text);
    if (!value) return SymbolResult::BadLongword;
    entry.timeOffset = *value;
  }
  entry.set(Flag::TimeOffset);
  return SymbolResult::Applied;
}

SymbolResult apply_vendor_magic(Operator op, Cursor& cursor, HostEntry& entry,
                                const SymbolContext&) {
  if (op == Operator::Switch) return SymbolResult::BadSyntax;
  entry.clear(Flag::VendorCookie);
  if (op == Operator::Remove || starts_with(cursor, "auto")) return SymbolResult::Applied;
  if (starts_with(cursor, "rfc")) {
    entry.vendorCookie = kRfc1048Cookie;
  } else if (starts_with(cursor, "cmu")) {
    entry.vendorCookie = kCmuCookie;
  } else if (is_digit(cursor.peek())) {
    const auto address = parse_inet_address(cursor);
    if (!address) return SymbolResult::BadAddress;
    platform::wire::store_net32(entry.vendorCookie, *address);
  } else {
    return SymbolResult::BadAddress;
  }
  entry.set(Flag::VendorCookie);
  return SymbolResult::Applied;
}

// --- the generic kinds ---

SymbolResult apply_text(const Symbol& symbol, Operator op, Cursor& cursor, HostEntry& entry) {
  if (op == Operator::Switch) return SymbolResult::BadSyntax;
  if (op == Operator::Remove) {
    entry.clear(symbol.flag);
    (entry.*symbol.text).reset();
    return SymbolResult::Applied;
  }
  entry.*symbol.text = std::make_shared<const SharedText>(SharedText{take_text(cursor)});
  entry.set(symbol.flag);
  return SymbolResult::Applied;
}

SymbolResult apply_address_list(const Symbol& symbol, Operator op, Cursor& cursor,
                                HostEntry& entry) {
  if (op == Operator::Switch) return SymbolResult::BadSyntax;
  if (op == Operator::Remove) {
    entry.clear(symbol.flag);
    (entry.*symbol.list).reset();
    return SymbolResult::Applied;
  }
  AddressListRef list = parse_address_list(cursor);
  if (!list) return SymbolResult::BadSyntax;
  entry.*symbol.list = std::move(list);
  entry.set(symbol.flag);
  return SymbolResult::Applied;
}

SymbolResult apply_address(const Symbol& symbol, Operator op, Cursor& cursor, HostEntry& entry) {
  if (op == Operator::Switch) return SymbolResult::BadSyntax;
  if (op == Operator::Remove) {
    entry.clear(symbol.flag);
    return SymbolResult::Applied;
  }
  const auto address = parse_inet_address(cursor);
  if (!address) return SymbolResult::BadAddress;
  entry.*symbol.address = *address;
  entry.set(symbol.flag);
  return SymbolResult::Applied;
}

using E = HostEntry;
using K = ValueKind;

// clang-format off
const Symbol kSymbols[] = {
  {"bf", K::Text,        Flag::BootFile,       &E::bootFile},
  {"bs", K::Special,     Flag::BootSize,       nullptr, nullptr, nullptr, apply_boot_size},
  {"cs", K::AddressList, Flag::CookieServers,  nullptr, &E::cookieServers},
  {"df", K::Text,        Flag::DumpFile,       &E::dumpFile},
  {"dn", K::Text,        Flag::DomainName,     &E::domainName},
  {"ds", K::AddressList, Flag::DomainServers,  nullptr, &E::domainServers},
  {"ef", K::Text,        Flag::ExtensionFile,  &E::extensionFile},
  {"ex", K::Special,     Flag::ExecFile,       nullptr, nullptr, nullptr, refuse_exec_file},
  {"gw", K::AddressList, Flag::Gateways,       nullptr, &E::gateways},
  {"ha", K::Special,     Flag::HwAddress,      nullptr, nullptr, nullptr, apply_hw_address},
  {"hd", K::Text,        Flag::HomeDir,        &E::homeDir},
  {"hn", K::Special,     Flag::HostNameSwitch, nullptr, nullptr, nullptr, apply_host_name_switch},
  {"ht", K::Special,     Flag::HwType,         nullptr, nullptr, nullptr, apply_hw_type},
  {"im", K::AddressList, Flag::ImpressServers, nullptr, &E::impressServers},
  {"ip", K::Special,     Flag::IpAddress,      nullptr, nullptr, nullptr, apply_ip_address},
  {"lg", K::AddressList, Flag::LogServers,     nullptr, &E::logServers},
  {"lp", K::AddressList, Flag::LprServers,     nullptr, &E::lprServers},
  {"ms", K::Special,     Flag::MessageSize,    nullptr, nullptr, nullptr, apply_message_size},
  {"mw", K::Special,     Flag::MinWait,        nullptr, nullptr, nullptr, apply_min_wait},
  {"ns", K::AddressList, Flag::NameServers,    nullptr, &E::nameServers},
  {"nt", K::AddressList, Flag::NtpServers,     nullptr, &E::ntpServers},
  {"ra", K::Address,     Flag::ReplyAddress,   nullptr, nullptr, &E::replyAddress},
  {"rl", K::AddressList, Flag::RlpServers,     nullptr, &E::rlpServers},
  {"rp", K::Text,        Flag::RootPath,       &E::rootPath},
  {"sa", K::Address,     Flag::BootServer,     nullptr, nullptr, &E::bootServer},
  {"sm", K::Address,     Flag::SubnetMask,     nullptr, nullptr, &E::subnetMask},
  {"sw", K::Address,     Flag::SwapServer,     nullptr, nullptr, &E::swapServer},
  {"tc", K::Special,     Flag::BootFile /* none */, nullptr, nullptr, nullptr, apply_template},
  {"td", K::Text,        Flag::TftpDir,        &E::tftpDir},
  {"to", K::Special,     Flag::TimeOffset,     nullptr, nullptr, nullptr, apply_time_offset},
  {"ts", K::AddressList, Flag::TimeServers,    nullptr, &E::timeServers},
  {"vm", K::Special,     Flag::VendorCookie,   nullptr, nullptr, nullptr, apply_vendor_magic},
  {"yd", K::Text,        Flag::NisDomain,      &E::nisDomain},
  {"ys", K::AddressList, Flag::NisServers,     nullptr, &E::nisServers},
};
// clang-format on
static_assert(std::size(kSymbols) == 34);

const Symbol* find_symbol(char first, char second) {
  for (const Symbol& symbol : kSymbols)
    if (symbol.name[0] == first && symbol.name[1] == second) return &symbol;
  return nullptr;
}

SymbolResult apply_raw_option(Cursor& cursor, HostEntry& entry, std::string& currentSymbol) {
  cursor.advance();  // the "T"
  const std::uint32_t tag = parse_number(cursor);
  currentSymbol = "T" + std::to_string(tag);
  cursor.skip_blanks();
  if (cursor.peek() != '=') return SymbolResult::BadSyntax;
  cursor.advance();
  const SymbolResult result =
      take_raw_option(cursor, static_cast<std::uint8_t>(tag % 256), entry.rawOptions);
  if (result == SymbolResult::Applied) entry.set(Flag::RawOptions);
  return result;
}

SymbolResult apply_field(const Symbol& symbol, Operator op, Cursor& cursor, HostEntry& entry,
                         const SymbolContext& context) {
  switch (symbol.kind) {
    case ValueKind::Text:
      return apply_text(symbol, op, cursor, entry);
    case ValueKind::AddressList:
      return apply_address_list(symbol, op, cursor, entry);
    case ValueKind::Address:
      return apply_address(symbol, op, cursor, entry);
    case ValueKind::Special:
      return symbol.special(op, cursor, entry, context);
  }
  return SymbolResult::Other;
}

// Takes the template's flag when the entry lacks it, and the template's value with it.
template <class Value>
void inherit(HostEntry& entry, const HostEntry& source, Flag flag, Value HostEntry::*value) {
  if (entry.has(flag)) return;
  entry.assign(flag, source.has(flag));
  if (source.has(flag)) entry.*value = source.*value;
}

void inherit_from(HostEntry& entry, const HostEntry& source) {
  inherit(entry, source, Flag::BootFile, &E::bootFile);
  inherit(entry, source, Flag::CookieServers, &E::cookieServers);
  inherit(entry, source, Flag::DomainServers, &E::domainServers);
  inherit(entry, source, Flag::Gateways, &E::gateways);
  inherit(entry, source, Flag::HomeDir, &E::homeDir);
  inherit(entry, source, Flag::HwType, &E::hwType);
  inherit(entry, source, Flag::ImpressServers, &E::impressServers);
  inherit(entry, source, Flag::LogServers, &E::logServers);
  inherit(entry, source, Flag::LprServers, &E::lprServers);
  inherit(entry, source, Flag::NameServers, &E::nameServers);
  inherit(entry, source, Flag::RlpServers, &E::rlpServers);
  inherit(entry, source, Flag::SubnetMask, &E::subnetMask);
  inherit(entry, source, Flag::TimeOffset, &E::timeOffset);
  inherit(entry, source, Flag::TimeServers, &E::timeServers);
  inherit(entry, source, Flag::VendorCookie, &E::vendorCookie);
  if (!entry.has(Flag::HostNameSwitch)) {
    entry.assign(Flag::HostNameSwitch, source.has(Flag::HostNameSwitch));
    if (source.has(Flag::HostNameSwitch))
      entry.assign(Flag::SendHostName, source.has(Flag::SendHostName));
  }
  if (!entry.has(Flag::BootSize)) {
    entry.assign(Flag::BootSize, source.has(Flag::BootSize));
    if (source.has(Flag::BootSize)) {
      entry.assign(Flag::BootSizeAuto, source.has(Flag::BootSizeAuto));
      entry.bootSize = source.bootSize;
    }
  }
  inherit(entry, source, Flag::BootServer, &E::bootServer);
  inherit(entry, source, Flag::TftpDir, &E::tftpDir);
  inherit(entry, source, Flag::DumpFile, &E::dumpFile);
  inherit(entry, source, Flag::DomainName, &E::domainName);
  inherit(entry, source, Flag::SwapServer, &E::swapServer);
  inherit(entry, source, Flag::RootPath, &E::rootPath);
  inherit(entry, source, Flag::ExtensionFile, &E::extensionFile);
  inherit(entry, source, Flag::ReplyAddress, &E::replyAddress);
  inherit(entry, source, Flag::NisDomain, &E::nisDomain);
  inherit(entry, source, Flag::NisServers, &E::nisServers);
  inherit(entry, source, Flag::NtpServers, &E::ntpServers);
  inherit(entry, source, Flag::MessageSize, &E::messageSize);
  inherit(entry, source, Flag::MinWait, &E::minWait);
  inherit(entry, source, Flag::RawOptions, &E::rawOptions);
}

struct NamedType {
  const char* name;
  std::uint8_t type;
};

constexpr NamedType kHardwareTypeNames[] = {
    {"ethernet", 1}, {"ethernet3", 2},  {"ether", 1},  {"ether3", 2}, {"ieee802", 6},
    {"tr", 6},       {"token-ring", 6}, {"pronet", 4}, {"chaos", 5},  {"arcnet", 7},
    {"ax.25", 3},    {"direct", 0},     {"serial", 0}, {"slip", 0},   {"ppp", 0},
};

}  // namespace

const char* symbol_error_text(SymbolResult result) {
  switch (result) {
    case SymbolResult::BadSyntax:
      return "bad syntax";
    case SymbolResult::UnknownSymbol:
      return "unknown symbol";
    case SymbolResult::BadAddress:
      return "bad INET address";
    case SymbolResult::BadHwAddress:
      return "bad hardware address";
    case SymbolResult::BadLongword:
      return "bad longword value";
    case SymbolResult::BadHwType:
      return "bad HW address type";
    default:
      return "unkown error";
  }
}

bool is_good_name(std::string_view name) {
  if (name.empty()) return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = name.find('.', start);
    const std::string_view label =
        name.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (label.empty() || !is_letter(label.front()) || !is_letter_or_digit(label.back()))
      return false;
    for (const char c : label)
      if (!is_letter_or_digit(c) && c != '-' && c != '_') return false;
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

std::uint8_t hw_type_from_name(std::string_view lowerName) {
  for (const NamedType& named : kHardwareTypeNames)
    if (lowerName == named.name) return named.type;
  return 0;
}

SymbolResult apply_symbol(Cursor& cursor, HostEntry& entry, std::string& currentSymbol,
                          const SymbolContext& context) {
  cursor.skip_blanks();
  if (cursor.at_end()) return SymbolResult::End;
  if (cursor.peek() == ':') return SymbolResult::Applied;
  if (cursor.peek() == 'T') return apply_raw_option(cursor, entry, currentSymbol);

  const char first = cursor.peek();
  const char second = cursor.peek(1);
  currentSymbol = std::string(1, first);
  if (second != '\0') currentSymbol += second;
  const Symbol* symbol = find_symbol(first, second);
  if (symbol == nullptr || symbol->special == refuse_exec_file) return SymbolResult::UnknownSymbol;
  cursor.advance(2);

  Operator op;
  switch (cursor.peek()) {
    case '=':
      op = Operator::Set;
      cursor.advance();
      break;
    case '@':
      op = Operator::Remove;
      cursor.advance();
      break;
    case ':':
    case '\0':
      op = Operator::Switch;
      break;
    default:
      return SymbolResult::BadSyntax;
  }
  cursor.skip_blanks();
  return apply_field(*symbol, op, cursor, entry, context);
}

void inherit_template(HostEntry& entry, Cursor& cursor, const SymbolContext& context) {
  const std::string name = take_text(cursor);
  const HostEntry* source = context.findTemplate ? context.findTemplate(name) : nullptr;
  if (source == nullptr) {
    bootp_report(kError, "can't find tc=\"%s\"", name.c_str());
    return;
  }
  inherit_from(entry, *source);
}

std::string take_text(Cursor& cursor, std::size_t limit) {
  std::string text;
  bool quoted = false;
  while (!cursor.at_end() && text.size() + 1 < limit) {
    char c = cursor.peek();
    if (c == ':' && !quoted) break;
    if (c == '"') {
      quoted = !quoted;
      cursor.advance();
      continue;
    }
    if (c == '\\') {
      cursor.advance();
      if (cursor.at_end()) break;
      c = cursor.peek();
    }
    text.push_back(c);
    cursor.advance();
  }
  while (!text.empty() && is_blank(text.back())) text.pop_back();
  return text;
}

// A leading "0" means octal, then a leading "x" hexadecimal; decimal digits count in every
// base, so "019" is 17. Wraps at 32 bits.
std::uint32_t parse_number(Cursor& cursor) {
  std::uint32_t base = 10;
  if (cursor.peek() == '0') {
    base = 8;
    cursor.advance();
  }
  if (cursor.peek() == 'x' || cursor.peek() == 'X') {
    base = 16;
    cursor.advance();
  }
  std::uint32_t value = 0;
  for (;;) {
    const char c = cursor.peek();
    if (is_digit(c) || (base == 16 && is_hex_digit(c))) {
      value = base * value + static_cast<std::uint32_t>(hex_value(c));
      cursor.advance();
    } else {
      return value;
    }
  }
}

std::optional<std::uint32_t> parse_inet_address(Cursor& cursor) {
  std::uint32_t parts[4] = {};
  std::size_t count = 0;
  for (;;) {
    if (!is_digit(cursor.peek())) return std::nullopt;
    if (count == 4) return std::nullopt;
    parts[count++] = parse_number(cursor);
    if (cursor.peek() != '.') break;
    cursor.advance();
  }
  std::uint32_t host = 0;
  switch (count) {
    case 1:
      host = parts[0];
      break;
    case 2:
      host = (parts[0] << 24) | (parts[1] & 0xFFFFFF);
      break;
    case 3:
      host = (parts[0] << 24) | ((parts[1] & 0xFF) << 16) | (parts[2] & 0xFFFF);
      break;
    default:
      host = (parts[0] << 24) | ((parts[1] & 0xFF) << 16) | ((parts[2] & 0xFF) << 8) |
             (parts[3] & 0xFF);
      break;
  }
  return platform::host_to_net32(host);
}

AddressListRef parse_address_list(Cursor& cursor) {
  constexpr std::size_t kMaxAddresses = 16;
  AddressList list;
  while (list.addresses_net.size() < kMaxAddresses) {
    while (is_blank(cursor.peek()) || cursor.peek() == ',') cursor.advance();
    if (!is_digit(cursor.peek())) break;
    const std::size_t start = cursor.position();
    const auto address = parse_inet_address(cursor);
    if (!address) {
      cursor.set_position(start);
      break;
    }
    list.addresses_net.push_back(*address);
  }
  if (list.addresses_net.empty()) return nullptr;
  return std::make_shared<const AddressList>(std::move(list));
}

std::optional<std::array<std::uint8_t, 8>> parse_hw_address(Cursor& cursor, unsigned type) {
  const std::size_t length = hw_address_length(type);
  if (length == 0) {
    bootp_report(kError, "Invalid addr type for HW addr parse");
    return std::nullopt;
  }
  const std::string text = take_text(cursor);
  if (is_good_name(text)) {
    bootp_report(kError, "no lookup for HW addr type %u", type);
    bootp_report(kError, "Add 0x prefix if hex value starts with A-F");
  }
  Cursor bytes(text);
  std::array<std::uint8_t, 8> address{};
  for (std::size_t i = 0; i < length; ++i) {
    if (bytes.peek() == '.' || bytes.peek() == ':') bytes.advance();
    const auto byte = parse_hex_byte(bytes);
    if (!byte) return std::nullopt;
    address[i] = *byte;
  }
  return address;
}

SymbolResult take_raw_option(Cursor& cursor, std::uint8_t tag, OptionBlobRef& blob) {
  constexpr std::size_t kMaxText = 253;
  constexpr std::size_t kMaxBytes = 254;
  std::vector<std::uint8_t> data;
  if (cursor.peek() == '"') {
    const std::string text = take_text(cursor, kMaxText + 1);
    data.assign(text.begin(), text.end());
    data.push_back(0);
  } else {
    while (data.size() < kMaxBytes) {
      const std::size_t start = cursor.position();
      if (!data.empty() && cursor.peek() == '.') cursor.advance();
      const auto byte = parse_hex_byte(cursor);
      if (!byte) {
        cursor.set_position(start);
        break;
      }
      data.push_back(*byte);
    }
  }
  if (cursor.peek() != ':') return SymbolResult::BadSyntax;

  OptionBlob grown;
  if (blob) grown.bytes = blob->bytes;
  grown.bytes.push_back(tag);
  grown.bytes.push_back(static_cast<std::uint8_t>(data.size()));
  grown.bytes.insert(grown.bytes.end(), data.begin(), data.end());
  blob = std::make_shared<const OptionBlob>(std::move(grown));
  return SymbolResult::Applied;
}

}  // namespace bootp
