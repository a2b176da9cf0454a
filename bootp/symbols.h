// The fields of a host table entry: the two-letter symbols, raw options (Tn), templates (tc)
// and the syntax of every value and name. Applies one field at a time to a HostEntry; the
// reader in host_table.cpp splits the file into entries, files them and lends the lookup
// that tc needs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "bootp/host_entry.h"

namespace bootp {

// A read position in an entry's text. A NUL byte ends the text as its end does.
class Cursor {
 public:
  explicit Cursor(std::string_view text, std::size_t position = 0)
      : m_text(text), m_position(position) {}

  bool at_end() const { return peek() == '\0'; }
  char peek(std::size_t ahead = 0) const {
    const std::size_t at = m_position + ahead;
    return at < m_text.size() ? m_text[at] : '\0';
  }
  void advance(std::size_t count = 1) { m_position = std::min(m_position + count, m_text.size()); }
  void skip_blanks() {
    while (peek() == ' ' || peek() == '\t') advance();
  }
  // Moves just behind the next colon, or to the end.
  void skip_past_colon() {
    while (!at_end() && peek() != ':') advance();
    if (!at_end()) advance();
  }
  std::size_t position() const { return m_position; }
  void set_position(std::size_t position) { m_position = position; }
  std::string_view rest() const { return m_text.substr(m_position); }

 private:
  std::string_view m_text;
  std::size_t m_position;
};

enum class SymbolResult : int {
  End = -1,
  Applied = 0,
  BadSyntax = 1,
  UnknownSymbol = 2,
  BadAddress = 3,
  BadHwAddress = 4,
  BadLongword = 5,
  BadHwType = 6,
  Other = 7,
};

// What a field needs beyond its own entry.
struct SymbolContext {
  int secondsWest = 0;  // the offset that to=auto gives
  // The entry of that name read so far from the file (the newest), for tc; none if absent.
  std::function<const HostEntry*(std::string_view name)> findTemplate;
};

// The text reported for a failed field.
const char* symbol_error_text(SymbolResult result);

// Applies the field at the cursor; the symbol's name ("bf", "T128") goes to currentSymbol for
// messages. The caller moves behind the next colon after an applied field.
SymbolResult apply_symbol(Cursor& cursor, HostEntry& entry, std::string& currentSymbol,
                          const SymbolContext& context);

// tc: takes from the named template what the entry does not have yet.
void inherit_template(HostEntry& entry, Cursor& cursor, const SymbolContext& context);

// Value parsers; each moves the cursor past what it read.
std::string take_text(Cursor& cursor, std::size_t limit = 80);
std::uint32_t parse_number(Cursor& cursor);
std::optional<std::uint32_t> parse_inet_address(Cursor& cursor);  // network order
AddressListRef parse_address_list(Cursor& cursor);
std::optional<std::array<std::uint8_t, 8>> parse_hw_address(Cursor& cursor, unsigned type);
SymbolResult take_raw_option(Cursor& cursor, std::uint8_t tag, OptionBlobRef& blob);

// The hardware type number of a name accepted by ht (lower case), 0 when unknown.
std::uint8_t hw_type_from_name(std::string_view lowerName);

// One or more labels separated by "."; each begins with a letter, goes on with letters,
// digits, "-" or "_", and ends with a letter or digit.
bool is_good_name(std::string_view name);

}  // namespace bootp
