#pragma once

// Project identity, shown wherever the platform expects it.
namespace identity {
inline constexpr char ProjectName[] = "photoforKP";
inline constexpr char ApplicationTitle[] = "photoforKP";
inline constexpr char Description[] = "Bramoth相册图鉴 For Ostavel";
inline constexpr char Version[] = "1.00";
} // namespace identity
