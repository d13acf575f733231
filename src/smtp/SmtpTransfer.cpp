// The DATA transfer (header block, message lines, stream outputs) and the
// request chains of the SMTP client.
#include "smtp/SmtpClient.h"

#include "smtp/SmtpAddress.h"

#include <array>
#include <utility>

namespace smtp {

namespace {

// A header line travels in a 2048-byte zero-terminated buffer; a body line
// leaves room for a doubled leading dot as well.
constexpr int kLineBufferSize = 2048;
constexpr std::size_t kHeaderLineMax = kLineBufferSize - 1;
constexpr int kBodyLineMax = kLineBufferSize - 2;
constexpr std::size_t kFileBufferSize = 65536;
// Lines are written to the socket in batches of at least this many bytes.
constexpr int kTransferBatchSize = TCustomSmtpClient::SendBufferSize / 2;
static_assert(kTransferBatchSize - 1 + kLineBufferSize + 1 <= TCustomSmtpClient::SendBufferSize,
              "a batch and its last line fit in one send buffer");

// The order in which a chain starts its pending steps; Rset is never started.
constexpr std::array kChainOrder {
    TSmtpChainStep::Connect,  TSmtpChainStep::Helo,        TSmtpChainStep::Ehlo,
    TSmtpChainStep::StartTls, TSmtpChainStep::Auth,        TSmtpChainStep::Vrfy,
    TSmtpChainStep::MailFrom, TSmtpChainStep::RcptTo,      TSmtpChainStep::Data,
    TSmtpChainStep::Quit,     TSmtpChainStep::CalcMsgSize, TSmtpChainStep::MailFromSIZE,
};

void CutTo(std::string& line, std::size_t max)
{
    if (line.size() > max)
        line.resize(max);
}

// The header properties that are copied into the header block and back.
using TClientText = std::string TCustomSmtpClient::*;
using TFieldText = std::string mime::THeaderFields::*;
constexpr std::pair<TClientText, TFieldText> kHeaderTexts[] {
    {&TCustomSmtpClient::HdrFrom, &mime::THeaderFields::HdrFrom},
    {&TCustomSmtpClient::HdrTo, &mime::THeaderFields::HdrTo},
    {&TCustomSmtpClient::HdrCc, &mime::THeaderFields::HdrCc},
    {&TCustomSmtpClient::HdrReplyTo, &mime::THeaderFields::HdrReplyTo},
    {&TCustomSmtpClient::HdrReturnPath, &mime::THeaderFields::HdrReturnPath},
    {&TCustomSmtpClient::HdrSubject, &mime::THeaderFields::HdrSubject},
    {&TCustomSmtpClient::HdrSender, &mime::THeaderFields::HdrSender},
    {&TCustomSmtpClient::XMailer, &mime::THeaderFields::XMailer},
};

} // namespace

// ---- header block ----

void TCustomSmtpClient::SetCharSet(const std::string& value)
{
    try {
        FHeaderFields.SetCharSet(value);
    } catch (const mime::ECharsetNotSupported& e) {
        throw SmtpException(e.what());
    }
}

mime::TSmtpHeaderLines& TCustomSmtpClient::HeaderLines()
{
    if (!FHeaderLines)
        FHeaderLines = std::make_unique<mime::TSmtpHeaderLines>();
    return *FHeaderLines;
}

void TCustomSmtpClient::DoProcessHeader(mime::TSmtpHeaderLines& hdrLines)
{
    if (OnProcessHeader)
        OnProcessHeader(*this, hdrLines);
}

void TCustomSmtpClient::BuildHeader()
{
    mime::THeaderFields& fields = FHeaderFields;
    for (const auto& [client, field] : kHeaderTexts)
        fields.*field = this->*client;
    fields.HdrPriority = HdrPriority;
    fields.ConfirmReceipt = ConfirmReceipt;
    fields.ConvertToCharset = ConvertToCharset;
    fields.Allow8bitChars = Allow8bitChars;
    fields.FoldHeaders = FoldHeaders;
    fields.OwnHeaders = OwnHeaders;
    fields.DefaultEncoding = DefaultEncoding;
    fields.ContentType = ContentType();
    fields.SourceCodePage = HeaderCodePage;
    FMessageId = mime::BuildHeaderBlock(fields, HeaderLines(),
                                        [this](mime::TSmtpHeaderLines& lines) { DoProcessHeader(lines); });
    // The address fields and the subject come back trimmed.
    for (const auto& [client, field] : kHeaderTexts)
        this->*client = fields.*field;
}

// ---- DATA ----

void TCustomSmtpClient::Data()
{
    const bool local = std::exchange(FLocalTransfer, false);
    const bool toStream = SendMode == smtpToStream;
    if (!local)
        BeginRequest(smtpData, !toStream);
    FBodyLineNumber = 0;
    FMoreLines = true;
    FHeaderIndex = -1;
    if (!toStream)
        FCalculatingSize = false;
    BuildHeader();
    FLastStep = TSmtpChainStep::Data;
    FBatchSize = 0;
    if (toStream) {
        if (!local) {
            FRequestDoneSent = false;
            FRequestResult = 0;
            SetState(smtpInternalBusy);
        }
        FStreamRun = ++FStreamRuns;
        TransferStep();
        return;
    }
    ExecAsync(smtpData, "DATA", {354}, [this] {
        if (FRequestResult != 0) {
            DoRequestDone(FRequestResult);
            return;
        }
        // From here on a stray reply line is only displayed: the request
        // ends with the reply to ".".
        FState = smtpInternalReady;
        TransferStep();
    });
}

void TCustomSmtpClient::TransferStep()
{
    // Lines join the socket's buffer one after the other until a batch is
    // full; the batch is then written and its OnDataSent resumes the loop.
    // Few large writes instead of one per line, the wire bytes unchanged.
    for (;;) {
        if (SendMode != smtpToStream && !FConnected) {
            if (FSocket)
                FSocket->OnDataSent = nullptr;
            return;
        }
        if (NextHeaderLine()) {
            if (!SendDataLine(false))
                return;
            continue;
        }
        const bool more = NextBodyLine();
        if (FRequestDoneSent) {
            // The body source has ended the request itself (a file that failed,
            // an event that aborted): nothing more may go out, above all not the
            // "." that would complete a cut-off message.
            if (FSocket)
                FSocket->OnDataSent = nullptr;
            return;
        }
        if (!more) {
            EndOfBody();
            return;
        }
        const bool doubled = !FLine.empty() && FLine.front() == '.';
        if (doubled)
            FLine.insert(FLine.begin(), '.');
        DoDisplay("> " + FLine);
        if (!SendDataLine(doubled))
            return;
    }
}

bool TCustomSmtpClient::NextHeaderLine()
{
    const auto count = static_cast<int>(HeaderLines().Count());
    if (FHeaderIndex + 1 >= count)
        return false;
    ++FHeaderIndex;
    FLine = HeaderLines()[static_cast<std::size_t>(FHeaderIndex)];
    CutTo(FLine, kHeaderLineMax);
    DoHeaderLine(FLine, kLineBufferSize);
    CutTo(FLine, kHeaderLineMax);
    DoDisplay("> " + FLine);
    return true;
}

bool TCustomSmtpClient::NextBodyLine()
{
    if (!FMoreLines)
        return false;
    ++FBodyLineNumber;
    FLine.clear();
    try {
        DoGetData(FBodyLineNumber, FLine, kBodyLineMax, FMoreLines);
    } catch (const std::exception& e) {
        // A failing body source fails the request: closing the message with
        // "." would have a cut-off message accepted as complete.
        FMoreLines = false;
        FailTransfer(e);
    }
    CutTo(FLine, kBodyLineMax);
    return FMoreLines;
}

bool TCustomSmtpClient::SendDataLine(bool dotDoubled)
{
    FLastLineSize = static_cast<int>(FLine.size());
    if (SendMode != smtpToSocket) {
        if (!WriteStreamLine(dotDoubled) || SendMode == smtpToStream)
            return false;
    }
    net::TAsyncSocket& socket = Socket();
    socket.PutDataInSendBuffer(FLine.data(), static_cast<int>(FLine.size()));
    socket.PutDataInSendBuffer("\r\n", 2);
    FLastLineSize += 2;
    FBatchSize += FLastLineSize;
    if (FBatchSize < kTransferBatchSize) {
        // The line waits in the buffer for the rest of its batch, or for
        // the final "." that goes out with it.
        LineQueued();
        return true;
    }
    FBatchSize = 0;
    socket.OnDataSent = [this](auto&, std::uint16_t) { SocketDataSent(); };
    socket.Send(nullptr, 0);
    return false;
}

void TCustomSmtpClient::LineQueued()
{
    DoMessageDataSent(FLastLineSize);
    FState = smtpInternalReady;
}

void TCustomSmtpClient::SocketDataSent()
{
    if (FSocket)
        FSocket->OnDataSent = nullptr;
    LineQueued();
    TransferStep();
}

void TCustomSmtpClient::EndOfBody()
{
    // What is left of the last batch goes out with the ".".
    FBatchSize = 0;
    if (FSocket)
        FSocket->OnDataSent = nullptr;
    const TSmtpSendMode mode = SendMode; // a size calculation restores it
    if (mode != smtpToSocket) {
        FinishStreamOutput();
        if (mode == smtpToStream)
            return;
    }
    ExecAsync(smtpData, ".", {250});
}

// ---- stream output ----

bool TCustomSmtpClient::WriteStreamLine(bool dotDoubled)
{
    if (!FCalculatingSize && FOutFile) {
        try {
            // The file shows the message as written, not its wire form.
            FOutFile->Write(std::string_view(FLine).substr(dotDoubled ? 1 : 0));
            FOutFile->Write("\r\n");
        } catch (const std::exception& e) {
            FailTransfer(e);
            return false;
        }
    }
    if (SendMode == smtpToStream) {
        FLastLineSize += 2;
        if (FCalculatingSize)
            FMessageSize += FLastLineSize;
        else
            DoMessageDataSent(FLastLineSize);
        PostMessage(FMsgNextData, FStreamRun);
    }
    return true;
}

void TCustomSmtpClient::FailTransfer(const std::exception& e)
{
    FLastResponse = "500 " + platform::ExceptionClassName(e) + " " + e.what();
    FStatusCode = SmtpClientError;
    FRequestResult = SmtpClientError;
    const bool onSocket = SendMode != smtpToStream; // a size calculation restores SendMode
    StopStreamOutput();
    ReleaseAttachmentStream();
    RecordError();
    if (OnResponse)
        OnResponse(*this, FLastResponse);
    DoRequestDone(SmtpClientError);
    if (onSocket && FSocket)
        FSocket->Abort();
}

void TCustomSmtpClient::StopStreamOutput()
{
    FStreamRun = 0;
    FFileOutput = false;
    if (FCalculatingSize) {
        FCalculatingSize = false;
        SendMode = FSavedSendMode;
        OnDisplay = std::move(FSavedOnDisplay);
        FSavedOnDisplay = nullptr;
    }
    // Closing may fail on the last flush; the caller reports failures itself.
    FOutFile.reset();
}

void TCustomSmtpClient::FinishStreamOutput()
{
    if (FCalculatingSize) {
        StopStreamOutput();
        FLastResponse = "200 MessageSize=" + std::to_string(FMessageSize);
        FStatusCode = 200;
        if (OnResponse)
            OnResponse(*this, FLastResponse);
        DoRequestDone(0);
        return;
    }
    const bool fileOutput = FFileOutput;
    if (FOutFile) {
        try {
            FOutFile->Close();
        } catch (const std::exception& e) {
            FailTransfer(e);
            return;
        }
    }
    StopStreamOutput();
    if (SendMode != smtpToStream)
        return;
    if (fileOutput) {
        FLastResponse = "200 Message sent to file";
        FStatusCode = 200;
        if (OnResponse)
            OnResponse(*this, FLastResponse);
    }
    DoRequestDone(FRequestResult);
}

void TCustomSmtpClient::WMNextData(const platform::TMessage& msg)
{
    // An abort may have ended the transfer while this message was queued.
    if (FStreamRun != 0 && msg.WParam == FStreamRun)
        TransferStep();
}

void TCustomSmtpClient::StartLocalTransfer(TSmtpRequest request, const char* name)
{
    if (!FInChain) {
        FRequestType = request;
        FErrorMessage.clear();
    }
    FAcceptedCodes = TSmtpAcceptedCodes {200};
    FRequestDoneSent = false;
    FRequestResult = 0;
    SetState(smtpInternalBusy);
    DoCommand(name);
    DoDisplay(std::string("> ") + name);
}

void TCustomSmtpClient::RunLocalData()
{
    FLocalTransfer = true;
    try {
        Data();
    } catch (...) {
        // Nothing was started: the call's exception is the only report.
        FLocalTransfer = false;
        StopStreamOutput();
        FRequestDoneSent = true;
        SetState(smtpReady);
        throw;
    }
}

void TCustomSmtpClient::CalcMsgSize()
{
    CheckReady();
    FSavedSendMode = SendMode;
    FSavedOnDisplay = OnDisplay;
    FLastStep = TSmtpChainStep::CalcMsgSize;
    FCalculatingSize = true;
    FMessageSize = 0;
    SendMode = smtpToStream;
    StartLocalTransfer(smtpCalcMsgSize, "CalcMsgSize");
    OnDisplay = nullptr;
    RunLocalData();
}

void TCustomSmtpClient::SendToFile(const std::string& fileName)
{
    if (FState != smtpReady)
        throw SmtpException("SMTP component not ready");
    if (SendMode != smtpToStream)
        throw std::runtime_error("SendToFile requires SendMode smtpToStream");
    if (fileName.empty())
        throw std::runtime_error("File name not specified");
    FOutFile = std::make_unique<platform::TBufferedFileStream>(fileName, kFileBufferSize);
    FFileOutput = true;
    FLastResponse.clear();
    FStatusCode = 0;
    FCalculatingSize = false;
    StartLocalTransfer(smtpToFile, "SendToFile");
    RunLocalData();
}

void TCustomSmtpClient::MailFromSIZE()
{
    BeginRequest(smtpMailFromSIZE);
    FLastStep = TSmtpChainStep::MailFromSIZE;
    ExecAsync(smtpMailFromSIZE,
              "MAIL FROM:<" + ParseAddress(FromName, AddressCodePage()).Address + "> SIZE=" + std::to_string(FMessageSize), {250});
}

// ---- request chains ----

void TCustomSmtpClient::Open()
{
    if (AuthType == smtpAuthNone)
        StartChain(smtpOpen, {TSmtpChainStep::Connect, TSmtpChainStep::Helo});
    else
        StartChain(smtpOpen, {TSmtpChainStep::Connect, TSmtpChainStep::Ehlo, TSmtpChainStep::Auth});
}

void TCustomSmtpClient::Mail()
{
    StartChain(smtpMail, {TSmtpChainStep::MailFrom, TSmtpChainStep::RcptTo, TSmtpChainStep::Data});
}

void TCustomSmtpClient::StartChain(TSmtpRequest request, TSmtpChainSteps steps)
{
    if (FConnected && steps.Contains(TSmtpChainStep::Connect))
        throw SmtpException("SMTP component already connected");
    CheckReady();
    FRequestType = request;
    FRequestResult = 0;
    FPendingSteps = steps;
    FLastStep = TSmtpChainStep::None;
    FChainResult = 0;
    FInChain = true;
    FLastResponse.clear();
    FErrorMessage.clear();
    NextChainStep();
}

void TCustomSmtpClient::NextChainStep()
{
    FChainContinuation = [this] { NextChainStep(); };
    if (FState == smtpAbort) {
        FPendingSteps = {};
        FChainResult = FRequestResult = SmtpAbortedCode;
        FErrorMessage = "426 Operation aborted.";
    } else if (FRequestResult == 0 && !FConnected && FLastStep != TSmtpChainStep::None &&
               FLastStep != TSmtpChainStep::Quit && FLastStep != TSmtpChainStep::CalcMsgSize) {
        // The connection ended under a step that had no error of its own.
        FPendingSteps = {};
        FChainResult = FRequestResult = SmtpConnectionEnded;
    } else if (FRequestResult != 0) {
        if (FLastStep == TSmtpChainStep::Ehlo) {
            FPendingSteps = {TSmtpChainStep::Helo};
        } else {
            FChainResult = FRequestResult;
            const bool quit = FPendingSteps.Contains(TSmtpChainStep::Quit) && FLastStep != TSmtpChainStep::Quit;
            FPendingSteps = quit ? TSmtpChainSteps {TSmtpChainStep::Quit} : TSmtpChainSteps {};
        }
    }
    for (TSmtpChainStep step : kChainOrder) {
        if (!FPendingSteps.Contains(step))
            continue;
        FPendingSteps.Remove(step);
        FLastStep = step;
        try {
            StartChainStep(step);
            return;
        } catch (const std::exception& e) {
            FChainResult = FRequestResult = SmtpClientError;
            FErrorMessage = "500 Internal client error " + platform::ExceptionClassName(e) + ": \"" + e.what() + "\"";
            FPendingSteps = {};
            break;
        }
    }
    FPendingSteps = {};
    FChainContinuation = nullptr;
    FRequestDoneSent = false;
    DoRequestDone(FChainResult);
}

void TCustomSmtpClient::StartChainStep(TSmtpChainStep step)
{
    switch (step) {
    case TSmtpChainStep::Connect: Connect(); break;
    case TSmtpChainStep::Helo: Helo(); break;
    case TSmtpChainStep::Ehlo: Ehlo(); break;
    case TSmtpChainStep::Auth: Auth(); break;
    case TSmtpChainStep::Vrfy: Vrfy(); break;
    case TSmtpChainStep::MailFrom: MailFrom(); break;
    case TSmtpChainStep::RcptTo: RcptTo(); break;
    case TSmtpChainStep::Data: Data(); break;
    case TSmtpChainStep::Quit: Quit(); break;
    case TSmtpChainStep::CalcMsgSize: CalcMsgSize(); break;
    case TSmtpChainStep::MailFromSIZE: MailFromSIZE(); break;
    default: throw SmtpException("No request for this chain step");
    }
}

} // namespace smtp
