#include "base/FileReplace.h"

namespace tarnwick {

namespace {

// How many names beside the file its older file tries before giving up.
constexpr int kMaxAsideNames = 100;

bool IsAlreadyThere(uint32_t error)
{
    return error == kReplaceAlreadyExists || error == kReplaceFileExists;
}

bool IsMomentary(uint32_t error)
{
    return error == kReplaceSharingViolation || error == kReplaceAccessDenied;
}

Replacement Failed(uint32_t error)
{
    return {Replaced::Failed, error};
}

// Tries a rename until it is done, refused for good, or refused kReplaceTries times.
bool MoveTrying(IReplaceSteps& steps, const FilePath& from, const FilePath& to)
{
    for (int tried = 1;; ++tried) {
        if (steps.Move(from, to))
            return true;
        if (tried == kReplaceTries || !IsMomentary(steps.LastError()))
            return false;
        steps.Pause();
    }
}

Replacement ReplaceOnce9x(IReplaceSteps& steps, const FilePath& from, const FilePath& to)
{
    if (steps.Move(from, to))
        return {};
    if (!IsAlreadyThere(steps.LastError()))
        return Failed(steps.LastError());
    if (!steps.Replaceable(to))
        return Failed(steps.LastError());
    FilePath aside;
    for (int attempt = 0;; ++attempt) {
        aside = steps.AsideName(to, attempt);
        if (steps.Move(to, aside))
            break;
        if (!IsAlreadyThere(steps.LastError()) || attempt + 1 == kMaxAsideNames)
            return Failed(steps.LastError());
    }
    if (steps.Move(from, to)) {
        steps.Remove(aside);
        return {};
    }
    const uint32_t error = steps.LastError();
    if (MoveTrying(steps, aside, to))
        return Failed(error);
    return {Replaced::Kept, error};
}

Replacement ReplaceOnce(IReplaceSteps& steps, const FilePath& from, const FilePath& to, bool nt)
{
    if (!nt)
        return ReplaceOnce9x(steps, from, to);
    return steps.Move(from, to) ? Replacement{} : Failed(steps.LastError());
}

}  // namespace

Replacement PutInPlace(IReplaceSteps& steps, const FilePath& from, const FilePath& to, bool nt)
{
    Replacement replacement;
    for (int tried = 1;; ++tried) {
        replacement = ReplaceOnce(steps, from, to, nt);
        if (replacement.result != Replaced::Failed || tried == kReplaceTries || !IsMomentary(replacement.error))
            break;
        steps.Pause();
    }
    if (nt && replacement.result == Replaced::Failed && IsMomentary(replacement.error)) {
        if (!steps.CloseNew())
            return Failed(steps.LastError());
        replacement = ReplaceOnce(steps, from, to, nt);
    }
    return replacement;
}

}  // namespace tarnwick
