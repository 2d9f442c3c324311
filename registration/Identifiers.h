#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace closewright {

/// A COM identifier in its binary layout (Data1..Data4, as in the Windows GUID structure).
struct Guid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::array<std::uint8_t, 8> data4;
  friend bool operator==(const Guid&, const Guid&) = default;
};

/// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::string ToString(const Guid& guid);

// Fixed once; never change them. A new revision of the interface takes a new identifier and the earlier
// ones stay answered.
inline constexpr Guid kClsidCCloseData{
    0x852ABB63, 0xAB2A, 0x4463, {0xB1, 0xF6, 0x88, 0xD1, 0xD6, 0x85, 0x2F, 0x1D}};
inline constexpr Guid kLibidClosewright{
    0x02BD6A22, 0xAB66, 0x41EA, {0x99, 0xB0, 0xEC, 0x3F, 0xBE, 0x94, 0xB7, 0x56}};
inline constexpr Guid kIidCCloseDataV0{
    0x746D789E, 0x3F7B, 0x463E, {0xBA, 0xB2, 0x20, 0x5C, 0xED, 0xF4, 0xA1, 0xFF}};
inline constexpr Guid kIidCCloseDataV1{
    0x3194E92D, 0xB623, 0x4A56, {0xA4, 0x71, 0xEB, 0x13, 0x8B, 0x3A, 0x95, 0xDD}};
inline constexpr Guid kIidCCloseDataV2{
    0x94B53C89, 0xA9BA, 0x4DF5, {0x86, 0xEB, 0xF5, 0xF3, 0xEB, 0xD7, 0x7E, 0xD1}};
inline constexpr Guid kIidCCloseDataV3{
    0x181FCD28, 0xD0C0, 0x40D6, {0xBD, 0xF6, 0x88, 0x43, 0xE5, 0x5B, 0x8E, 0x97}};
inline constexpr Guid kIidCCloseData{
    0x76CE07A4, 0x220F, 0x4409, {0xB8, 0xF8, 0x9D, 0x35, 0xDE, 0xF6, 0x01, 0x77}};
inline constexpr Guid kIidIUnknown{
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr Guid kIidIDispatch{
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr Guid kIidIClassFactory{
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

inline constexpr std::uint16_t kTypeLibraryMajor = 1;
inline constexpr std::uint16_t kTypeLibraryMinor = 4;
inline constexpr std::uint32_t kTypeLibraryLocale = 1033;

/// The interface revisions in the order the interface-ID resource lists them: 0 to 3, then the current.
inline constexpr std::array<Guid, 5> kInterfaceRevisions{kIidCCloseDataV0, kIidCCloseDataV1, kIidCCloseDataV2,
                                                         kIidCCloseDataV3, kIidCCloseData};

/// True for the five revisions of the class's interface and for IUnknown and IDispatch.
bool AnswersInterface(const Guid& iid) noexcept;

/// The interface-ID resource: a 32-bit little-endian byte count (80) and the five IDs, 16 bytes each, in
/// the GUID's in-memory layout.
std::array<std::uint8_t, 84> InterfaceIdResource() noexcept;

}  // namespace closewright
