#pragma once

#include "core/ai/AIStreamChunk.h"

#include <QString>

#include <optional>

// What one response line means for the reply: possibly a chunk, possibly the end, possibly an
// error the provider reported inside the stream (which ends the reply as a failure).
struct AILineResult
{
    std::optional<AIStreamChunk> chunk;
    bool endsReply = false;
    std::optional<QString> errorMessage;
};

// The line rules of the three wire dialects. Lines of other shapes are ignored (an empty
// result), so comments, event names and unknown events pass without a trace.
class AILineParser
{
public:
    enum class Dialect {
        anthropic,
        openAI,
        ollama,
    };

    static AILineResult parse(Dialect dialect, const QString &line);

    // Server-sent events with "content_block_delta" text and "message_stop".
    static AILineResult parseAnthropicLine(const QString &line);
    // Server-sent events with choices[0].delta.content.
    static AILineResult parseOpenAILine(const QString &line);
    // One JSON object per line with message.content and done.
    static AILineResult parseOllamaLine(const QString &line);
};
