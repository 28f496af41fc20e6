#pragma once

class Clock;
class MarkdownPageBuilder;
class PageSchemeHandler;

// What the previews and the exports are made from: the application's root owns these and hands
// them on; tests make their own. All three must outlive every preview and export made with them.
struct PreviewServices
{
    Clock &clock;
    const MarkdownPageBuilder &pages;
    PageSchemeHandler &pageHandler;
};
