// Chained hash tables for the host table's three indexes (by hardware address, IP address
// and name). The table links to data it does not own; the caller computes hash codes with
// hash_Code and passes the comparison with every call, so one index may hold equal keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <utility>
#include <vector>

namespace bootp {

template <class Datum>
struct HashLink {
  HashLink* next = nullptr;
  Datum* datum = nullptr;
};

template <class Datum>
class HashIndex {
 public:
  explicit HashIndex(std::size_t bucketCount) : m_heads(bucketCount, nullptr) {}
  ~HashIndex() {
    for (HashLink<Datum>*& head : m_heads) free_chain(head);
  }
  HashIndex(const HashIndex&) = delete;
  HashIndex& operator=(const HashIndex&) = delete;

  std::size_t bucket_count() const { return m_heads.size(); }
  HashLink<Datum>*& head(std::uint32_t code) { return m_heads[code % m_heads.size()]; }
  HashLink<Datum>* const& head(std::uint32_t code) const { return m_heads[code % m_heads.size()]; }
  std::span<HashLink<Datum>*> heads() { return m_heads; }

  static void free_chain(HashLink<Datum>*& head) {
    while (head != nullptr) delete std::exchange(head, head->next);
  }

 private:
  std::vector<HashLink<Datum>*> m_heads;
};

// Called as equal(key, datum).
template <class Key, class Datum>
using HashEqual = bool (*)(const Key& key, const Datum& datum);

// None for a count of 0 or when memory runs out.
template <class Datum>
std::unique_ptr<HashIndex<Datum>> hash_Create(std::size_t bucketCount) {
  if (bucketCount == 0) return nullptr;
  try {
    return std::make_unique<HashIndex<Datum>>(bucketCount);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// 2 × code + byte for each byte, modulo 2^32.
std::uint32_t hash_Code(std::span<const std::uint8_t> bytes);

template <class Key, class Datum>
bool hash_Contains(const HashIndex<Datum>& table, std::uint32_t code, HashEqual<Key, Datum> equal,
                   const Key& key) {
  for (const HashLink<Datum>* link = table.head(code); link != nullptr; link = link->next)
    if (equal(key, *link->datum)) return true;
  return false;
}

// The newest matching datum of the code's bucket, or none.
template <class Key, class Datum>
Datum* hash_Find(const HashIndex<Datum>& table, std::uint32_t code, HashEqual<Key, Datum> equal,
                 const Key& key) {
  for (const HashLink<Datum>* link = table.head(code); link != nullptr; link = link->next)
    if (equal(key, *link->datum)) return link->datum;
  return nullptr;
}

// 0, or −1 when the bucket already holds an equal datum or no link can be allocated.
template <class Key, class Datum>
int hash_Insert(HashIndex<Datum>& table, std::uint32_t code, HashEqual<Key, Datum> equal,
                const Key& key, Datum* datum) {
  if (hash_Contains(table, code, equal, key)) return -1;
  auto* link = new (std::nothrow) HashLink<Datum>;
  if (link == nullptr) return -1;
  HashLink<Datum>*& head = table.head(code);
  link->datum = datum;
  link->next = head;
  head = link;
  return 0;
}

// Releases every datum once per link, in chain order, and empties every bucket.
template <class Datum, class Release>
void hash_Clear(HashIndex<Datum>& table, Release release) {
  for (HashLink<Datum>*& head : table.heads()) {
    while (head != nullptr) {
      HashLink<Datum>* link = std::exchange(head, head->next);
      Datum* datum = link->datum;
      delete link;
      release(datum);
    }
  }
}

}  // namespace bootp
