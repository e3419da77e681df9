#include "formats/comment_sink.h"

namespace {

std::string g_buffer;

void BufferAddChar(int c) {
  if (c == 0)
    g_buffer.clear();
  else
    g_buffer.push_back(static_cast<char>(c));
}

std::string BufferGetText() { return g_buffer; }

const TCommentSink kBufferSink{BufferAddChar, BufferGetText};
const TCommentSink* g_sink = &kBufferSink;

} // namespace

void SetCommentSink(const TCommentSink* sink) { g_sink = sink ? sink : &kBufferSink; }

void CommentChar(int c) { g_sink->AddChar(c); }

void CommentText(const char* text) {
  for (; *text; ++text) g_sink->AddChar(static_cast<unsigned char>(*text));
}

std::string CommentGetText() { return g_sink->GetText(); }
