#pragma once
// The comment sink: readers pass comment text one character at a time, a
// character 0 clears it; writers that store comments read the collected text
// back. The application installs its comments window here; until then the
// text is kept in a process-wide buffer, which is what tools and tests use.
#include <string>

struct TCommentSink {
  void (*AddChar)(int c);
  std::string (*GetText)();
};

void SetCommentSink(const TCommentSink* sink);
void CommentChar(int c);
void CommentText(const char* text); // every character of text, in order
std::string CommentGetText();
