/*
 * The close-tag stacks of a rendering run. An element whose closing tag
 * must wait pushes that tag; closing means popping down to a tag and
 * writing each popped tag. `which` chooses the stack: 0 the main stack
 * (tag_stack), any other value the second stack (second_tag_stack) for
 * text gathered apart from the main output.
 *
 * Tag texts are constants that the stacks point at; nodes are heap nodes,
 * kept for the next pushes when popped and freed with the stacks. Queries
 * compare tags exactly; the guards of a pop compare without regard to
 * case. A push that cannot be made fails the run (output_status 263).
 */
#ifndef VELKO_RENDER_TAG_STACK_H
#define VELKO_RENDER_TAG_STACK_H

#include "render/output_buffer.h"
#include "render/render_info.h"

/* Whether two tag texts are the same; false when either is null. Tags are
 * short and mostly the same constants, and are compared at every cell and
 * paragraph: inline rather than by a library call. */
inline bool SameXMLTag(const char *a, const char *b) {
  if (a == nullptr || b == nullptr)
    return false;
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

/* Push the closing tag (with an id, or 0); the node, or null when it
 * cannot be made (the stack is then unchanged). */
xml_stack_node *PushXMLStackWithID(html_render_info *context, WORD which, const char *tag, WORD id);
xml_stack_node *PushXMLStack(html_render_info *context, WORD which, const char *tag);

/* Pops to `tag` (null: exactly one node; a tag not on the stack: every
 * node, unless mustExist), writing each popped tag when `write` is set: to
 * `target` when given, else, for the main stack, to the output (a line end
 * follows block closing tags under AddNewlines when quoted-printable is
 * off). stopBefore leaves `tag` itself on the stack. tableGuard keeps a
 * pop of a cell, row, item, div or paragraph inside its table; listGuard
 * keeps a pop of a list, item, div or paragraph from crossing a table.
 * Returns 1 when a node was popped, else 0. */
int PopXMLStackToBuffer(html_render_info *context, WORD which, const char *tag, DWORD write,
                        DWORD mustExist, render_text *target, DWORD stopBefore, DWORD tableGuard,
                        DWORD listGuard);
int PopXMLStack(html_render_info *context, WORD which, const char *tag, DWORD write,
                DWORD mustExist, DWORD stopBefore, DWORD tableGuard, DWORD listGuard);

/* Pops until stopNode is on top (it stays) or the stack is empty,
 * appending each popped tag to target (when given). */
void PopXMLStackToPointToBuffer(html_render_info *context, WORD which,
                                const xml_stack_node *stopNode, render_text *target);

/* 1 when a node with exactly this tag is on the stack (topOnly: on top). */
int TagOnXMLStack(const html_render_info *context, WORD which, const char *tag, DWORD topOnly);

/* Closes the tags of a text run's markup that are on the main stack, each
 * popped with what lies above it and written, in this order: </font>,
 * </b>, </strong>, </i>, </em>, </u>, </s>, </sup>, </sub>. 1 when one
 * was popped. */
int CloseRunTagsOnXMLStack(html_render_info *context);

/* The id of the first node from the top with this tag and a non-zero id
 * (topOnly: of the top node, when it matches and has one); else 0. */
WORD TagOnXMLStackWithID(const html_render_info *context, WORD which, const char *tag,
                         DWORD topOnly);

/* From the top, the first node equal to `tag` or to one of the non-null
 * stop tags decides: 1 for `tag`, 0 for a stop tag or when none matches. */
int TagOnXMLStackBefore(const html_render_info *context, WORD which, const char *tag,
                        const char *stop1, const char *stop2, const char *stop3);
int TagOnXMLStackBeforeTag(const html_render_info *context, WORD which, const char *tag,
                           const char *stop1, const char *stop2);

/* As TagOnXMLStackBefore on the main stack with `count` stop tags (a null
 * one is none); the counts of the counted tags answer at once when `tag`
 * is not open, and the walk compares places, not texts, when every tag
 * asked is counted. */
bool TagOpenBeforeStops(const html_render_info *context, const char *tag,
                        const char *const *stops, size_t count);

/* Frees every node of both stacks without writing. */
void DiscardXMLStacks(html_render_info *context);

/* Whether a cell's closing tag ("</td>" or "</th>") is on the main stack,
 * from the tag counts. */
bool CellTagOnXMLStack(const html_render_info *context);

/* The main stack's nearest cell node ("</td>" or "</th>") from the top,
 * unless a "</tr>" or "</table>" comes first; else null. */
const xml_stack_node *OpenCellOfRow(const html_render_info *context);

/* Whether a node of the main stack holds a list's closing tag ("</ul>" or
 * "</ol>"). */
bool IsListClosingNode(const xml_stack_node *node);

/* Whether `tag` is on the main stack above the depth the innermost
 * layer's content began at: a paragraph in a layer closes only what was
 * opened in the layer, so that the layer's division never straddles
 * markup opened before it. Outside a layer, whether it is on the stack. */
bool TagOpenInLayer(const html_render_info *context, const char *tag);

/* How many closing tags the main stack holds. */
DWORD XMLStackDepth(const html_render_info *context);

#endif
