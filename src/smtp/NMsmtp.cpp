#include "NMsmtp.h"

#include "codec/NMS_Stream.h"
#include "rtl/Exceptions.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

const char* const CRLF = "\r\n";

// One generator for the whole process, never seeded: every run draws the same
// boundaries in the same order.
uint32_t RandSeed = 0;

int Random(uint32_t Range)
{
    RandSeed = RandSeed * 134775813u + 1u;
    return static_cast<int>((uint64_t(RandSeed) * Range) >> 32);
}

std::string NewBoundary()
{
    std::string result = "====================54535";
    for (int i = 0; i < 6; ++i)
        result += static_cast<char>('a' + Random(25));
    return result + "====";
}

const char* ContentTypeOf(TSubType SubType)
{
    switch (SubType) {
    case mtEnriched: return "Content-Type: text/enriched; charset=";
    case mtSgml: return "Content-Type: text/sgml; charset=";
    case mtTabSeperated: return "Content-Type: text/tab-separated-values; charset=";
    case mtHtml: return "Content-Type: text/html; charset=";
    case mtPlain: break;
    }
    return "Content-Type: text/plain; charset=";
}

std::string JoinedEntries(const TStringList& List)
{
    std::string result;
    for (int i = 0; i < List.Count(); ++i)
        result += (i > 0 ? "," : "") + List[i];
    return result;
}

// The entry with everything up to its last "\" or ":" (or "/") removed.
std::string BareFileName(const std::string& Entry)
{
    size_t cut = Entry.find_last_of("\\:/");
    return cut == std::string::npos ? Entry : Entry.substr(cut + 1);
}

bool HasLineBreak(const std::string& S)
{
    return S.find_first_of("\r\n") != std::string::npos;
}

// The leading number of a reply line, by the rule Transaction applies.
int16_t ReplyCodeOf(const std::string& Line)
{
    int64_t value = 0;
    size_t digits = 0;
    while (digits < Line.size() && digits < 10 && Line[digits] >= '0' && Line[digits] <= '9')
        value = value * 10 + (Line[digits++] - '0');
    if (value > INT32_MAX)
        return 0;
    if (value > 32767)
        throw ERangeError();
    return static_cast<int16_t>(value);
}

// The message text as it goes on the wire: the SMTP transparency rule puts one
// more "." before each line that begins with "." in the attachment parts.
// The body lines were already protected when they were written, so the server
// stores them as the user wrote them. Reads straight out of the composed
// stream; nothing is copied beyond the caller's chunk.
class TTransparentStream : public TStream {
public:
    TTransparentStream(TMemoryStream& Source, int64_t From)
        : FData(Source.Memory()), FSize(Source.Size())
    {
        for (int64_t at = From; at < FSize;) {
            const void* dot = std::memchr(FData + at, '.', static_cast<size_t>(FSize - at));
            if (!dot)
                break;
            int64_t found = static_cast<const char*>(dot) - FData;
            if (found == From || FData[found - 1] == '\n')
                FDots.push_back(found);
            at = found + 1;
        }
    }

    int64_t Read(void* Buffer, int64_t Count) override
    {
        char* out = static_cast<char*>(Buffer);
        int64_t total = 0;
        while (total < Count && FPosition < Size64()) {
            if (FNext < FDots.size() && DotAt(FNext) == FPosition) {
                out[total++] = '.';
                ++FNext;
                ++FPosition;
                continue;
            }
            int64_t source = FPosition - static_cast<int64_t>(FNext);
            int64_t runEnd = FNext < FDots.size() ? FDots[FNext] : FSize;
            int64_t n = std::min(runEnd - source, Count - total);
            std::memcpy(out + total, FData + source, static_cast<size_t>(n));
            total += n;
            FPosition += n;
        }
        return total;
    }

    int64_t Write(const void*, int64_t) override { return 0; }

    int64_t Seek(int64_t Offset, uint16_t Origin) override
    {
        int64_t target = Origin == soFromBeginning ? Offset
                       : Origin == soFromCurrent   ? FPosition + Offset
                                                   : Size64() + Offset;
        FPosition = std::clamp<int64_t>(target, 0, Size64());
        // The first added dot at or after the new position.
        size_t lo = 0, hi = FDots.size();
        while (lo < hi) {
            size_t mid = (lo + hi) / 2;
            if (DotAt(mid) < FPosition)
                lo = mid + 1;
            else
                hi = mid;
        }
        FNext = lo;
        return FPosition;
    }

private:
    int64_t Size64() const { return FSize + static_cast<int64_t>(FDots.size()); }
    // Position on the wire of added dot I: its line's offset plus the dots before it.
    int64_t DotAt(size_t I) const { return FDots[I] + static_cast<int64_t>(I); }

    const char* FData;
    int64_t FSize;
    std::vector<int64_t> FDots;   // offsets of the lines that get one more "."
    int64_t FPosition = 0;
    size_t FNext = 0;
};

// Clears the busy flag however the guarded block ends.
class TBusyGuard {
public:
    TBusyGuard(bool& Flag, bool Release) : FFlag(Flag), FRelease(Release) { FFlag = true; }
    ~TBusyGuard()
    {
        if (FRelease)
            FFlag = false;
    }

private:
    bool& FFlag;
    bool FRelease;
};

const char* const ClosedByServer = "Connection closed by the server";

}  // namespace

TNMSMTP::TNMSMTP()
{
    Port = 25;
}

TNMSMTP::~TNMSMTP() = default;

// --- Session ---

void TNMSMTP::Connect()
{
    {
        TBusyGuard guard(Busy, !Busy);
        if (HasLineBreak(UserID))
            throw Exception("Invalid line break in UserID");
        TPowersock::Connect();
        try {
            std::string greeting = ReadLn();
            ReportStatus(1, greeting);   // a reply line, like those Transaction reports
            ReplyNumber = ReplyCodeOf(greeting);
            ReadReplyContinuation(greeting);
            if (greeting.empty())
                throw Exception(ClosedByServer);
            if (ReplyNumber >= 400)
                throw Exception(greeting);
            Hello();
        } catch (...) {
            Disconnect();   // a failure of QUIT takes the place of the first one
            throw;
        }
    }
    if (OnConnect)
        OnConnect(this);
}

void TNMSMTP::Hello()
{
    for (int attempts = 0;; ++attempts) {
        std::string reply = Transaction("HELO " + UserID);
        ReadReplyContinuation(reply);
        if (reply.empty())
            throw Exception(ClosedByServer);
        if (ReplyNumber < 300)
            return;
        if (attempts > 0 || !OnAuthenticationFailed)
            throw Exception("Authentication failed");
        bool handled = false;
        OnAuthenticationFailed(handled);
        if (!handled)
            throw Exception("Authentication failed");
        if (HasLineBreak(UserID))
            throw Exception("Invalid line break in UserID");
    }
}

// A continuation line begins with a blank or has "-" as its fourth character.
// An empty line (the server closed) or a shorter one ends the reply.
void TNMSMTP::ReadReplyContinuation(std::string& Reply)
{
    auto continues = [](const std::string& line) {
        return !line.empty() && (line[0] == ' ' || (line.size() >= 4 && line[3] == '-'));
    };
    while (continues(Reply)) {
        Reply = ReadLn();
        ReportStatus(1, Reply);
    }
}

void TNMSMTP::Disconnect()
{
    Canceled = false;
    std::string reply;
    try {
        reply = Transaction("QUIT");
    } catch (...) {
        TPowersock::Disconnect();
        throw;
    }
    TPowersock::Disconnect();
    if (ReplyNumber >= 340)
        throw Exception(reply);
}

void TNMSMTP::Abort()
{
    TPowersock::Abort();
}

void TNMSMTP::Command(const std::string& Text, int RefusedFrom)
{
    std::string reply = Transaction(Text);
    if (reply.empty())
        throw Exception(ClosedByServer);
    if (ReplyNumber >= RefusedFrom)
        throw Exception(reply);
}

void TNMSMTP::SendMail()
{
    if (Busy)
        return;
    {
        TBusyGuard guard(Busy, true);
        ComposeMessage();
        CheckConnection();
        CheckRecord();
        CheckLineBreaks();
        if (OnSendStart)
            OnSendStart(this);
        Command("RSET", 400);
        Command("MAIL FROM:<" + PostMessage.FromAddress + ">", 400);
        SendRecipients(PostMessage.ToAddress);
        SendRecipients(PostMessage.ToCarbonCopy);
        SendRecipients(PostMessage.ToBlindCarbonCopy);
        Command("DATA", 400);
        Write(FinalHeader.Text() + CRLF + CRLF);
        TTransparentStream wire(BodyStream, FAttachmentsStart);
        SendStream(wire);
        std::string reply = Transaction(".");
        if (reply.empty())
            throw Exception(ClosedByServer);
        if (ReplyNumber >= 400) {
            if (OnFailure)
                OnFailure(this);
            throw Exception(reply);
        }
        if (ClearParams)
            ClearMessageLists();
    }
    if (OnSuccess)
        OnSuccess(this);
}

// The record needs a sender and at least one recipient; the handler gets one chance.
void TNMSMTP::CheckRecord()
{
    auto complete = [this] {
        return !PostMessage.FromAddress.empty()
            && PostMessage.ToAddress.Count() + PostMessage.ToCarbonCopy.Count()
                   + PostMessage.ToBlindCarbonCopy.Count() > 0;
    };
    bool asked = false;
    while (!complete()) {
        if (asked || !OnHeaderIncomplete)
            throw Exception("Incomplete Header");
        asked = true;
        bool handled = false;
        OnHeaderIncomplete(handled, PostMessage.FromAddress.empty() ? 1 : 2);
        if (!handled)
            throw Exception("Incomplete Header");
    }
}

// A CR or LF in a value that reaches a command or a header line would let it
// smuggle in commands or header lines of its own.
void TNMSMTP::CheckLineBreaks() const
{
    const TPostMessage& m = PostMessage;
    const std::pair<const char*, const std::string*> values[] = {
        {"FromAddress", &m.FromAddress}, {"FromName", &m.FromName}, {"Subject", &m.Subject},
        {"LocalProgram", &m.LocalProgram}, {"ReplyTo", &m.ReplyTo}, {"Date", &m.Date},
        {"Charset", &Charset}};
    for (const auto& [name, value] : values)
        if (HasLineBreak(*value))
            throw Exception(std::string("Invalid line break in ") + name);
    const std::pair<const char*, const TStringList*> lists[] = {
        {"ToAddress", &m.ToAddress}, {"ToCarbonCopy", &m.ToCarbonCopy},
        {"ToBlindCarbonCopy", &m.ToBlindCarbonCopy}, {"Attachments", &m.Attachments}};
    for (const auto& [name, list] : lists)
        for (const std::string& entry : list->Lines())
            if (HasLineBreak(entry))
                throw Exception(std::string("Invalid line break in ") + name);
}

void TNMSMTP::SendRecipients(const TStringList& List)
{
    for (int i = 0; i < List.Count(); ++i) {
        const std::string entry = List[i];   // a handler may change the list
        std::string address;
        ExtractAddress(entry, address);
        if (address.empty())
            continue;
        std::string reply = Transaction("RCPT TO:<" + address + ">");
        if (reply.empty())
            throw Exception(ClosedByServer);
        if (ReplyNumber > 300 && OnRecipientNotFound)
            OnRecipientNotFound(entry);
    }
}

void TNMSMTP::ClearMessageLists()
{
    PostMessage.ToAddress.Clear();
    PostMessage.ToCarbonCopy.Clear();
    PostMessage.ToBlindCarbonCopy.Clear();
    PostMessage.Attachments.Clear();
}

// --- Message writer ---

void TNMSMTP::ComposeMessage()
{
    const TPostMessage& m = PostMessage;
    FinalHeader.Clear();
    FinalHeader.Add("From: " + m.FromName + "<" + m.FromAddress + ">");
    if (m.ToAddress.Count() > 0)
        FinalHeader.Add("To: " + JoinedEntries(m.ToAddress));
    if (m.ToCarbonCopy.Count() > 0)
        FinalHeader.Add("CC: " + JoinedEntries(m.ToCarbonCopy));
    FinalHeader.SetField("Subject", m.Subject);
    FinalHeader.SetField("X-Mailer", m.LocalProgram);
    if (!m.ReplyTo.empty())
        FinalHeader.SetField("Reply-To", m.ReplyTo);
    if (!m.Date.empty())
        FinalHeader.SetField("Date", m.Date);
    FinalHeader.Add("Mime-Version: 1.0");
    const bool multipart = m.Attachments.Count() > 0;
    if (multipart) {
        Boundary = NewBoundary();
        FinalHeader.Add("Content-Type: multipart/mixed; boundary=\"" + Boundary + "\"");
    } else {
        FinalHeader.Add(ContentTypeOf(SubType) + Charset);
    }

    BodyStream.Clear();
    if (multipart) {
        std::string opening = "--" + Boundary + CRLF + "Content-Type: text/plain; charset=" + Charset + CRLF + CRLF;
        BodyStream.WriteBuffer(opening.data(), static_cast<int64_t>(opening.size()));
    }
    WriteBodyLines();
    FAttachmentsStart = BodyStream.Position();
    if (multipart) {
        for (int index = 1; index <= m.Attachments.Count(); ++index)
            WriteAttachmentPart(index);
        std::string closing = "--" + Boundary + "--" + CRLF;
        BodyStream.WriteBuffer(closing.data(), static_cast<int64_t>(closing.size()));
    }
}

// One write per entry. A leading "." is doubled; a CR or LF inside an entry
// becomes a line break of its own, and the line after it is treated the same way.
void TNMSMTP::WriteBodyLines()
{
    std::string text;
    for (const std::string& entry : PostMessage.Body.Lines()) {
        text.clear();
        size_t start = 0;
        for (;;) {
            size_t stop = entry.find_first_of("\r\n", start);
            size_t end = stop == std::string::npos ? entry.size() : stop;
            if (start < entry.size() && entry[start] == '.')
                text += '.';
            text.append(entry, start, end - start);
            text += CRLF;
            if (stop == std::string::npos)
                break;
            start = stop + (entry.compare(stop, 2, CRLF) == 0 ? 2 : 1);
        }
        BodyStream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
    }
}

void TNMSMTP::WriteAttachmentPart(int Index)
{
    const std::string entry = PostMessage.Attachments[Index - 1];
    const std::string name = BareFileName(entry);
    const std::string header = "--" + Boundary + CRLF
        + "Content-Type: application/octet-stream; name=\"" + name + "\"" + CRLF
        + "Content-Transfer-Encoding: base64" + CRLF
        + "Content-Disposition: attachment; filename=\"" + name + "\"" + CRLF + CRLF;
    BodyStream.WriteBuffer(header.data(), static_cast<int64_t>(header.size()));

    // The encoder writes straight behind the part's header lines, through the
    // buffered stream: a temporary copy of the encoded file would double the
    // memory the message takes and the time spent filling it.
    // Released in reverse order: buffered stream, file, encoder.
    TNMUUProcessor encoder;
    encoder.Method = EncodeType;
    std::unique_ptr<TFileStream> file;
    TS_BufferStream buffered(&BodyStream);
    try {
        file = std::make_unique<TFileStream>(entry);
    } catch (const EFOpenError&) {
        if (OnAttachmentNotFound)
            OnAttachmentNotFound(entry);
        throw;
    }
    encoder.SourceStream = file.get();
    encoder.TargetStream = &buffered;
    if (OnEncodeStart)
        OnEncodeStart(entry);
    encoder.Encode();   // leaves every byte flushed into BodyStream and BodyStream at 0
    BodyStream.Seek(0, soFromEnd);
    if (OnEncodeEnd)
        OnEncodeEnd(entry);
}

void TNMSMTP::ExtractAddress(const std::string& Text, std::string& Address) const
{
    if (Text.find('<') != std::string::npos)
        Address = NthField(NthField(Text, '<', 2), '>', 1);
    else if (Text.find(':') != std::string::npos)
        Address = NthField(Text, ':', 2);
    else
        Address = Text;
}
