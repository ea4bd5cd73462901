#include "rename/conversion_table.h"

#include "dat/dat_format.h"
#include "platform/path.h"
#include "platform/text.h"

namespace quorvin {

namespace {
constexpr std::string_view kConversion = "Conversion";
constexpr std::string_view kReversion = "Reversion";

bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanksAndTabs(std::string_view s) {
  while (!s.empty() && IsBlankOrTab(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlankOrTab(s.back())) s.remove_suffix(1);
  return s;
}

// A name as a key of the file. The profile reader trims blanks and TABs around keys and
// reads a line beginning with "[" as a section; a name either would change is written in
// double quotes, and a lookup wraps its key the same way. No stored name holds a double
// quote, so the wrapping cannot be mistaken for part of a name. (Values need no such care:
// the profile writer quotes a value that would not read back as it stands.)
std::string EncodedKey(std::string_view name) {
  const bool wrap = !name.empty() && (IsBlankOrTab(name.front()) || IsBlankOrTab(name.back()) ||
                                      name.front() == '[');
  if (!wrap) return std::string(name);
  return "\"" + std::string(name) + "\"";
}

// A dat's name token as the name it stands for: the quotes a dat wraps a name in come off
// (a name holding a blank or a parenthesis); any other double quote is part of the name.
std::string_view Unwrapped(std::string_view token) {
  if (IsQuotedToken(token) &&
      token.substr(1, token.size() - 2).find_first_of(" ()") != std::string_view::npos) {
    return token.substr(1, token.size() - 2);
  }
  return token;
}

bool HoldsUnstorable(std::string_view name) {
  return name.find_first_of(std::string_view("=\r\n\0", 4)) != std::string_view::npos;
}

}  // namespace

std::string ConversionFilePath(const std::string& conversions_folder, std::string_view system) {
  return JoinPath(conversions_folder, std::string(system) + ".cnv");
}

Result<ConversionTable> ConversionTable::Load(const std::string& path) {
  auto file = ProfileFile::Load(path);
  if (!file.ok()) return file.status();
  ConversionTable t;
  t.path_ = path;
  t.file_ = std::move(file).value();
  return t;
}

const ConversionTable::Pair* ConversionTable::PendingByOld(const std::string& upper_old) const {
  auto it = pending_by_old_.find(upper_old);
  if (it == pending_by_old_.end() || pending_[it->second].dropped) return nullptr;
  return &pending_[it->second];
}

Status ConversionTable::RecordConversion(std::string_view old_token, std::string_view new_token) {
  Status s = Record(old_token, new_token);
  // A ROM whose rename was refused keeps its name this session: an entry an earlier run
  // recorded for it must not rename it (or its artwork) instead.
  if (!s.ok()) withheld_.insert(ToUpperAscii(Unwrapped(old_token)));
  return s;
}

Status ConversionTable::Record(std::string_view old_token, std::string_view new_token) {
  const std::string old_name(Unwrapped(old_token));
  const std::string new_name = RemoveChars(new_token, "\"");
  if (TrimBlanksAndTabs(old_name).empty()) return Status::Ok();
  // A game without a good name keeps its own: that is its target.
  const bool keeps_name = TrimBlanksAndTabs(new_name).empty();
  const std::string old_upper = ToUpperAscii(old_name);
  const std::string new_upper = keeps_name ? old_upper : ToUpperAscii(new_name);
  const std::string quoted_old = "\"" + ForMessage(old_name) + "\"";
  const std::string quoted_new = "\"" + ForMessage(new_name) + "\"";

  // A name left out is matched as the dat writes it too: in quotes when it held one.
  const std::string_view bare =
      IsQuotedToken(old_token) ? old_token.substr(1, old_token.size() - 2) : old_token;
  if (auto left = left_out_.find(ToUpperAscii(bare)); left != left_out_.end()) {
    return Status::Refused(left->second);
  }
  if (ambiguous_.contains(old_upper)) {
    return Status::Refused("Several ROMs are named " + quoted_old +
                           " (or so but for letter case); none of them is renamed");
  }
  // The table maps a name, not a file: two ROMs of one name (in two folders, or differing
  // only in letter case) are told apart only when they are the same game under the same
  // spelling. Otherwise one entry would rename both, and one of them to the wrong game.
  if (auto [seen, fresh] = seen_.emplace(old_upper, Seen{old_name, new_upper});
      !fresh && (seen->second.old_name != old_name || seen->second.target_upper != new_upper)) {
    const std::string quoted_earlier = "\"" + ForMessage(seen->second.old_name) + "\"";
    const bool case_only = seen->second.old_name != old_name;
    ambiguous_.insert(old_upper);
    Withhold([&old_upper](const Pair& p) { return ToUpperAscii(p.old_name) == old_upper; });
    if (case_only) {
      return Status::Refused("The ROMs " + quoted_earlier + " and " + quoted_old +
                             " differ only in letter case, so the conversion file cannot tell "
                             "them apart; neither is renamed");
    }
    return Status::Refused("Several ROMs named " + quoted_old +
                           " are different games, so the conversion file cannot tell them "
                           "apart; none of them is renamed");
  }

  // Both halves are checked before either is kept: a half-recorded pair could rename a file
  // that nothing then brings back.
  if (old_name.find('"') != std::string::npos) {
    return Status::InvalidInput("The ROM " + quoted_old +
                                " holds a double quote, which the conversion file " + path_ +
                                " cannot record; it is not renamed");
  }
  if (!keeps_name && (HoldsUnstorable(old_name) || HoldsUnstorable(new_name))) {
    return Status::InvalidInput("The rename of " + quoted_old + " to " + quoted_new +
                                " cannot be stored in " + path_ +
                                " (a name holds \"=\", a line break or NUL)");
  }
  if (!keeps_name && new_name.front() == '.') {
    return Status::InvalidInput("The good name " + quoted_new + " of " + quoted_old +
                                " begins with \".\", which would hide the file or take it out "
                                "of its folder; it is not renamed");
  }

  // An earlier run's way back for a file that still carries the good name is never replaced.
  if (old_upper != new_upper) {
    if (auto earlier = file_.Get(kReversion, EncodedKey(new_name));
        earlier && !earlier->empty() && !EqualsIgnoreCase(*earlier, old_name) &&
        (!carried_ || carried_(new_name))) {
      return Status::Refused("A file already carries the good name " + quoted_new +
                             ", renamed from \"" + ForMessage(*earlier) + "\" by an earlier run; " +
                             quoted_old + " is not renamed, so that file can still be reverted");
    }
  }
  // A good name goes to the first game that asks for it in this session; a ROM that already
  // carries it (its own name, or a good name equal but for letter case) counts as asking, and
  // wins over a rename asked for before it: a revert would otherwise give that ROM, and its
  // artwork, the other file's earlier name.
  auto [claim, fresh] = claimed_.emplace(new_upper, old_name);
  if (!fresh && !EqualsIgnoreCase(claim->second, old_name)) {
    const std::string quoted_claim = "\"" + ForMessage(claim->second) + "\"";
    if (old_upper == new_upper) {
      claim->second = old_name;
      Withhold([&new_upper](const Pair& p) { return ToUpperAscii(p.new_name) == new_upper; });
      return Status::Refused("A ROM is already named " + quoted_old + ", so " + quoted_claim +
                             " is not renamed to it");
    }
    return Status::Refused("Two games have the good name " + quoted_new + ": " + quoted_claim +
                           " and " + quoted_old + "; only " + quoted_claim + " will be renamed");
  }
  if (old_upper == new_upper) return Status::Ok();

  pending_.push_back(Pair{old_name, new_name});
  pending_by_old_[old_upper] = pending_.size() - 1;
  pending_by_new_[new_upper] = pending_.size() - 1;
  return Status::Ok();
}

void ConversionTable::Withhold(const std::function<bool(const Pair&)>& which) {
  for (Pair& p : pending_) {
    if (p.dropped || !which(p)) continue;
    p.dropped = true;
    withheld_.insert(ToUpperAscii(p.old_name));
  }
}

void ConversionTable::LeaveOut(std::string_view name, std::string why) {
  const std::string upper = ToUpperAscii(name);
  left_out_.emplace(upper, std::move(why));
  Withhold([&upper](const Pair& p) { return ToUpperAscii(p.old_name) == upper; });
}

std::string ConversionTable::LookupConversion(std::string_view name) const {
  if (name.find('"') != std::string_view::npos) return std::string();
  const std::string upper = ToUpperAscii(name);
  if (ambiguous_.contains(upper) || withheld_.contains(upper) || left_out_.contains(upper)) {
    return std::string();
  }
  if (const Pair* p = PendingByOld(upper)) return p->new_name;
  return file_.Get(kConversion, EncodedKey(name)).value_or(std::string());
}

std::string ConversionTable::LookupReversion(std::string_view name) const {
  if (name.find('"') != std::string_view::npos) return std::string();
  auto it = pending_by_new_.find(ToUpperAscii(name));
  if (it != pending_by_new_.end() && !pending_[it->second].dropped) {
    return pending_[it->second].old_name;
  }
  return file_.Get(kReversion, EncodedKey(name)).value_or(std::string());
}

Status ConversionTable::Save() {
  ProfileFile next = file_;
  bool changed = false;
  for (const Pair& p : pending_) {
    if (p.dropped) continue;
    Status s = next.Set(kConversion, EncodedKey(p.old_name), p.new_name);
    if (s.ok()) s = next.Set(kReversion, EncodedKey(p.new_name), p.old_name);
    if (!s.ok()) return s;
    changed = true;
  }
  if (changed) {
    Status s = next.Save(path_);
    if (!s.ok()) return s;
  }
  file_ = std::move(next);
  pending_.clear();
  pending_by_old_.clear();
  pending_by_new_.clear();
  return Status::Ok();
}

}  // namespace quorvin
