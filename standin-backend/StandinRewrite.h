#pragma once

#include <QString>

#include <optional>

// The stand-in's predictable stand-ins for the backend's language work, so that tests can tell what comes
// back: recognised speech is shaped like a service's formatted transcript, e-mail formatting tidies the
// text, and AI Mode applies a case instruction to the selection or otherwise hands the selection back.
namespace standin {

// Recognised words (lower case, blank-separated, no punctuation) as a transcription service formats them:
// blanks collapsed; "i" and its contractions ("i'm", "i'll", "i'd", "i've") as "I", "I'm"...; the first
// letter upper case; a question mark at the end when the words open a question, else a full stop (a mark
// already there stays). A question opens with a question word (what, why, how, who, whom, whose, which,
// when, where) unless a subject pronoun follows it directly ("when you get there" opens a statement), or
// with an auxiliary verb (is, are, was, can, could, would, will, should, may, does, did, has and their
// negations); "do", "don't", "have", "had" and "must" open one only when a subject pronoun follows, as
// they also open commands ("do it now", "don't forget", "have a look"). Numbers stay as the recogniser
// spells them. Empty stays empty.
QString formatTranscript(const QString& words);

// Trimmed, the first letter upper case, ending in a full stop unless it ends in . ! or ?; empty stays empty.
QString tidyText(const QString& text);

// The spoken instruction applied to the selection (the instruction itself when nothing is selected):
// "title case" or "capitalize each (every) word" capitalises each word and lower-cases the rest of it;
// "upper case", "all caps", "capitals" or "capital letters" upper-cases; "lower case" or "small letters"
// lower-cases. Any other instruction returns the selection unchanged, or the instruction tidied when there
// is no selection.
QString aiRewrite(const QString& instruction, const std::optional<QString>& selection);

// The refined text of the combined endpoint for a refinement mode ("email", "generic", or another).
QString refineText(const QString& transcript, const std::optional<QString>& mode,
                   const std::optional<QString>& selection);

} // namespace standin
