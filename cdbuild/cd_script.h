/*
 * The record script: a readable text form of a list of stored CD records,
 * which `velko build` turns into a CD file and tests use to write inputs.
 * Each line is turned into bytes by the record builder (cdbuild/cd_builder.h);
 * the script never reaches the engine's own record code.
 *
 * The language
 *
 *   # a comment runs from '#' (outside quotes) to the end of the line
 *   PABDEF id=1 left=1440 tabs=720,1440
 *   PARAGRAPH
 *   PABREF id=1
 *   TEXT face=1 attributes=bold+italic color=red size=12 text="Hello, world"
 *   HEX 81 02                 # stored bytes as they are, header included
 *
 * One record per line: a mnemonic, then fields as name=value separated by
 * spaces, in any order, each at most once; a field left out takes the
 * default below. Case does not matter in mnemonics, field names and words.
 *
 * Values:
 *   NUMBER  decimal or 0x hex; it must fit the field (byte, word, dword).
 *   LIST    numbers separated by ',' (tab positions may be negative).
 *   BYTES   a quoted text ("..." with \\ \" \n \r \t \0 \xHH escapes),
 *           written byte for byte, or bare hex digits, two per byte.
 *   RGB     a number 0xRRGGBB.
 *   SIG     a signature number or name (CDTEXT, or TEXT without "CD").
 *   BOOL    yes, no, 1, 0, true, false.
 *
 * Mnemonics and their fields (defaults in brackets):
 *   TEXT        text=BYTES face=[1] size=[10] color=[0] (a palette index or
 *               black, white, red, green, blue, magenta, yellow, cyan)
 *               attributes=[0] (a number or words joined by '+': bold,
 *               italic, underline, strikethrough, superscript, subscript,
 *               shadow, emboss, extrude) sig=[CDTEXT]
 *   PABDEF      id=[1] justify=[left] (a number or left, right, full,
 *               center, none) spacing= before= after= [0] left=[1440]
 *               right=[0] firstline=[left] tabs=LIST (at most 20)
 *               flags= tabtypes= flags2= [0]; ext=LIST of six words,
 *               extflags= and flags3= write the optional extension
 *   PABREF      id=[1]
 *   PARAGRAPH
 *   BEGIN, END  sig=SIG (required) version=[0]
 *   TABLEBEGIN  left= hspace= vspace= flags= [0] nested=[no]
 *   TABLECELL   row= column= [0] left=[1440 x column] right=[left + 1440]
 *               borders= flags= v42border= background= [0]
 *               rowspan= colspan= [1] nested=[no]
 *   TABLEEND    nested=[no]
 *   PRETABLEBEGIN flags= rowdisplay= minrowheight= [0] bodycolor=RGB
 *               tablecolor=RGB bordercolor=RGB name=BYTES
 *   FIELD       name=BYTES description=BYTES values=BYTES type=[0x0500]
 *               flags= delimiter= taborder= [0] face= size= color=
 *               attributes= (as TEXT) default= translation= validation=
 *               (compiled formulas as BYTES)
 *   HTMLBEGIN, HTMLEND (also PASSTHRUBEGIN, PASSTHRUEND): pass-through HTML
 *   COLOR       rgb=[0] flags=[1] gradient=RGB
 *   HOTSPOTBEGIN type= flags= [0] data=BYTES sig=[CDHOTSPOTBEGIN]
 *   HOTSPOTEND  sig=[CDHOTSPOTEND]
 *   LINK        id=[0]
 *   DOCLINK     notelink=BYTES (at most 40, zero-filled) texts=BYTES
 *   GRAPHIC     destwidth= destheight= resize= version= flags= [0]
 *   IMAGEHEADER type=[1] (1 GIF, 2 JPEG) width= height= datasize=
 *               segments= [0]
 *   IMAGESEGMENT data=BYTES (at most 65535)
 *   BITMAPHEADER destwidth= destheight= width= height= segments= [0]
 *               bpp= samples= [1]
 *   BITMAPSEGMENT data=BYTES (at most 65535) scanlines=[1]
 *   FILEHEADER  extension=BYTES datasize= segments= flags= [0]
 *   FILESEGMENT data=BYTES (at most 65535)
 *   STORAGELINK type= load= [1] ref=BYTES (the object name or URL)
 *   RESOURCE    sig=[CDRESOURCE] flags=[0] type=[1] class=[0] server=BYTES
 *               file=BYTES link=BYTES (note link, index or database
 *               reference, by type) name=BYTES
 *   RAW         sig=SIG (required) data=BYTES: any record, header by the
 *               signature's form
 *   ANCHOR      name=BYTES
 *   BUTTON      label=BYTES flags= width= [0] face= size= color=
 *               attributes= (as TEXT)
 *   SECTIONBAR  title=BYTES flags= barcolor= [0] face= size= color=
 *               attributes= (as TEXT)
 *   IDNAME      id= class= style= title= extra= name= (BYTES each)
 *               sig=[CDIDNAME]
 *   PABHIDE     id=[1] formula=BYTES (compiled), or source=BYTES (the
 *               formula text, laid out compiled: "FM", version 1, length)
 *   STYLENAME   id=[1] name=BYTES (at most 35)
 *   TARGET      frame=BYTES
 *   TABLELABEL  label=BYTES (at most 127) flags=[0]
 *   LAYERBEGIN, LAYER, LAYEREND: a layer's bracket and its CDLAYER
 *   HEX         bytes as hex digits, as many tokens as wanted
 * Every mnemonic but HEX also takes tail=BYTES, appended behind the
 * record's own bytes (the header length grows with it), and length=NUMBER,
 * written into the header in place of the real length (for damaged
 * inputs). An odd record is followed by a pad byte in the output.
 */
#ifndef VELKO_CDBUILD_CD_SCRIPT_H
#define VELKO_CDBUILD_CD_SCRIPT_H

#include <cstddef>
#include <string>
#include <string_view>

#include "cdbuild/cd_builder.h"

namespace cdbuild {

struct ScriptError {
  size_t line = 0; /* from 1 */
  std::string message;
};

/* Appends the record of one script line to the body (a blank or comment
 * line appends none). False with the reason when the line is refused; the
 * body is then unchanged. */
bool BuildScriptLine(std::string_view line, Body* body, std::string* error);

/* Appends the records of every line of the script; false at the first
 * refused line, with its number and the reason. */
bool BuildScript(std::string_view script, Body* body, ScriptError* error);

} // namespace cdbuild

#endif
