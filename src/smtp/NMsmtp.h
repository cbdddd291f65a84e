// The SMTP client component: the message record, the message writer and the
// plain SMTP dialogue (greeting, HELO, RSET, MAIL FROM, RCPT TO, DATA, ".", QUIT).
#pragma once

#include "codec/NMExtstr.h"
#include "codec/NMUUE.h"
#include "rtl/StringList.h"
#include "rtl/Streams.h"
#include "sock/Psock.h"

#include <cstdint>
#include <functional>
#include <string>

enum TSubType : uint8_t { mtPlain = 0, mtEnriched = 1, mtSgml = 2, mtTabSeperated = 3, mtHtml = 4 };

using THeaderInComplete = std::function<void(bool& handled, int hiType)>;
using TRecipientNotFound = std::function<void(const std::string& Recipient)>;
using TMailListReturn = std::function<void(const std::string& MailAddress)>;
using TFileItem = std::function<void(const std::string& Filename)>;

// The message to send. Assigning one of the lists copies the lines; the owned
// list object stays the same.
class TPostMessage {
public:
    std::string FromName;
    std::string FromAddress;
    std::string Subject;
    std::string LocalProgram;   // the X-Mailer text
    std::string Date;
    std::string ReplyTo;
    TStringList Attachments;    // full path of each attached file
    TStringList ToAddress;
    TStringList ToCarbonCopy;
    TStringList ToBlindCarbonCopy;
    TStringList Body;           // one line per entry
};

class TNMSMTP : public TPowersock {
public:
    TNMSMTP();
    ~TNMSMTP() override;

    std::string Charset;
    TNotifyEvent OnConnect;     // hides the socket's own connect event: fires after HELO
    TPostMessage PostMessage;
    TMemoryStream BodyStream;   // the message text after the header block
    TExStringList FinalHeader;  // the header lines, rebuilt by every SendMail
    bool Busy = false;
    std::string UserID;
    std::string Boundary;
    TSubType SubType = mtPlain;
    THeaderInComplete OnHeaderIncomplete;
    TNotifyEvent OnSendStart;
    TNotifyEvent OnSuccess;
    TNotifyEvent OnFailure;
    TFileItem OnEncodeStart;
    TFileItem OnEncodeEnd;
    TFileItem OnAttachmentNotFound;
    TRecipientNotFound OnRecipientNotFound;
    TMailListReturn OnMailListReturn;   // published, never fired
    THandlerEvent OnAuthenticationFailed;
    UUMethods EncodeType = uuMime;
    bool ClearParams = true;

    void Connect() override;
    void Disconnect() override;
    void Abort() override;
    void SendMail();
    void ExtractAddress(const std::string& Text, std::string& Address) const;

protected:
    void ComposeMessage();
    void WriteAttachmentPart(int Index);
    void ReadReplyContinuation(std::string& Reply);
    void ClearMessageLists();

private:
    void Hello();
    void Command(const std::string& Text, int RefusedFrom);
    void CheckRecord();
    void CheckLineBreaks() const;
    void SendRecipients(const TStringList& List);
    void WriteBodyLines();

    int64_t FAttachmentsStart = 0;   // offset in BodyStream of the first attachment part
};
