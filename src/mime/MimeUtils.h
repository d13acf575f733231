#pragma once
// The composition toolbox in one include: character sets and code pages,
// transfer encodings, the text cursor, attachment line producers and
// header words.
#include "mime/Base64.h"
#include "mime/ByteSet.h"
#include "mime/Charsets.h"
#include "mime/ContentTypes.h"
#include "mime/Encodings.h"
#include "mime/FileEncoders.h"
#include "mime/HeaderBlock.h"
#include "mime/HeaderEncoding.h"
#include "mime/MessageText.h"
#include "mime/MimeException.h"
#include "mime/ReadStream.h"
#include "mime/SmtpHeaderLines.h"
#include "mime/TextEncoders.h"
