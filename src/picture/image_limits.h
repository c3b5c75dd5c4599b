#pragma once

// The limits every reader works under, in one place: a few header bytes must
// not be able to claim gigabytes, nor a product of claimed sizes overflow.

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace quorvex {

// Storage above this many bytes is refused with EOutOfResources rather than
// attempted.
inline constexpr uint64_t kMaxStorageBytes = uint64_t{1} << 30;

// Data that ends early still loads as far as it goes, the rest left as the
// format says: a claim up to this many bytes past what the data could hold
// is let through, so truncated small pictures keep loading.
inline constexpr uint64_t kShortDataAllowance = uint64_t{1} << 20;

// The product of the factors, or EOutOfResources "Out of system resources"
// when it passes kMaxStorageBytes (an overflowing product does too). What
// every allocation sized from a file goes through.
uint64_t StorageBytes(std::initializer_list<uint64_t> factors);

// The same product, or UINT64_MAX when it overflows: for comparing a claim
// against the data that is there, where over the cap is not yet an error.
uint64_t SaturatingProduct(std::initializer_list<uint64_t> factors);

}  // namespace quorvex
