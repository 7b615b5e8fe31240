// QDArc: members of a QDA archive, read from the archive file each time.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "formats/qda.h"
#include "media_base.h"

namespace zt {

class EQDAError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A member that would decode to more than its budget allows.
class EQDARefused : public EQDAError {
 public:
  explicit EQDARefused(const QdaRefusal& refusal);
  QdaRefusal refusal;
};

// Opens the archive (read only), finds the member by name without regard to
// case as the locale knows it, and returns its bytes in a stream at
// position 0. Raises EQDAError for a bad archive or a missing member,
// EQDARefused for a member beyond the budget, and std::runtime_error when the
// file cannot be opened or ends early. The budget is that of the archive's
// members loaded so far; without one only a member's own bound applies.
std::unique_ptr<TMemoryStream> ExtractFromQDA(const std::string& archive_name,
                                              const std::string& member_name,
                                              QdaBudget* budget = nullptr);

}  // namespace zt
