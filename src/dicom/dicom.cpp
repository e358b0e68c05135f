// The plain-value half of the binding: data sets, attribute lists, errors and
// UIDs. Nothing here touches the network or DCMTK.
#include "dicom/dicom.h"

#include <algorithm>
#include <array>
#include <random>

namespace morvanta::dicom {

Error::Error(std::int32_t number, std::string description)
    : std::runtime_error(std::to_string(number) + " - " + description),
      number_(number),
      description_(std::move(description)) {}

void AttributeList::Add(std::uint16_t group, std::uint16_t element, std::string value) {
  items_.emplace_back(Tag{group, element}, std::move(value), false);
}

void AttributeList::Set(std::uint16_t group, std::uint16_t element, std::string value,
                        bool isNull) {
  const Tag tag{group, element};
  auto found = std::find_if(items_.begin(), items_.end(),
                            [&](const Attribute& a) { return a.tag() == tag; });
  if (found != items_.end())
    *found = Attribute(tag, std::move(value), isNull);
  else
    items_.emplace_back(tag, std::move(value), isNull);
}

const Attribute& AttributeList::Item(std::uint16_t group, std::uint16_t element) const {
  // Read for every cell of every result: a reference, never a copy.
  static const Attribute kNull;
  const Tag tag{group, element};
  auto found = std::find_if(items_.begin(), items_.end(),
                            [&](const Attribute& a) { return a.tag() == tag; });
  return found == items_.end() ? kNull : *found;
}

bool AttributeList::Contains(std::uint16_t group, std::uint16_t element) const {
  const Tag tag{group, element};
  return std::any_of(items_.begin(), items_.end(),
                     [&](const Attribute& a) { return a.tag() == tag; });
}

const std::string& DataSet::PatientName() const { return attributes_.Item(0x0010, 0x0010).Value(); }
void DataSet::SetPatientName(std::string value) { attributes_.Set(0x0010, 0x0010, std::move(value)); }
const std::string& DataSet::PatientID() const { return attributes_.Item(0x0010, 0x0020).Value(); }
void DataSet::SetPatientID(std::string value) { attributes_.Set(0x0010, 0x0020, std::move(value)); }
const std::string& DataSet::BirthDate() const { return attributes_.Item(0x0010, 0x0030).Value(); }
void DataSet::SetBirthDate(std::string value) { attributes_.Set(0x0010, 0x0030, std::move(value)); }
const std::string& DataSet::StudyUID() const { return attributes_.Item(0x0020, 0x000D).Value(); }
const std::string& DataSet::PatientSex() const { return attributes_.Item(0x0010, 0x0040).Value(); }
const std::string& DataSet::StudyDescription() const { return attributes_.Item(0x0008, 0x1030).Value(); }
const std::string& DataSet::AccessionNumber() const { return attributes_.Item(0x0008, 0x0050).Value(); }

namespace {

// A 128-bit number held as four 32-bit limbs, most significant first, written
// in decimal by repeated division: no compiler extension needed.
std::string Decimal128(std::array<std::uint32_t, 4> limbs) {
  std::string digits;
  auto isZero = [&] { return std::all_of(limbs.begin(), limbs.end(), [](auto l) { return l == 0; }); };
  if (isZero()) return "0";
  while (!isZero()) {
    std::uint64_t remainder = 0;
    for (auto& limb : limbs) {
      const std::uint64_t current = (remainder << 32) | limb;
      limb = static_cast<std::uint32_t>(current / 10);
      remainder = current % 10;
    }
    digits.push_back(static_cast<char>('0' + remainder));
  }
  std::reverse(digits.begin(), digits.end());
  return digits;
}

std::mt19937_64& Engine() {
  // One engine per thread, seeded from the system's entropy, so that threads
  // never share state and two stations never share a sequence.
  thread_local std::mt19937_64 engine = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  return engine;
}

}  // namespace

std::string UidGenerator::NewUID() {
  const std::uint64_t high = Engine()();
  const std::uint64_t low = Engine()();
  std::array<std::uint32_t, 4> limbs{static_cast<std::uint32_t>(high >> 32),
                                     static_cast<std::uint32_t>(high),
                                     static_cast<std::uint32_t>(low >> 32),
                                     static_cast<std::uint32_t>(low)};
  // A version 4 (random) UUID per RFC 4122: version nibble 4, variant 10.
  limbs[1] = (limbs[1] & 0xFFFF0FFFu) | 0x00004000u;
  limbs[2] = (limbs[2] & 0x3FFFFFFFu) | 0x80000000u;
  return "2.25." + Decimal128(limbs);
}

}  // namespace morvanta::dicom
