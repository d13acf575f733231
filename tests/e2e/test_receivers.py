"""What receivers make of the mail: the plain-text alternative that an HTML
mail carries, and the media types of its images and attachments."""
import pytest

from conftest import needs_html_text
from examplejobs import deliver_example
from mailjobs import job, png, text_lines
from smtpservers import RecordingServer


def alternative(msg):
    """The text/plain and text/html parts of the multipart/alternative."""
    part = next(p for p in msg.walk() if p.get_content_type() == "multipart/alternative")
    plain, html = part.get_payload()
    assert (plain.get_content_type(), html.get_content_type()) == ("text/plain", "text/html")
    return plain, html


def send(prog, *lines):
    with RecordingServer() as server:
        prog.settings(Host="127.0.0.1", Port=server.port, Timeout=10)
        prog.write("job.txt", job(
            '<FROM NAME="Shop" EMAIL="shop@example.org">',
            '<TO EMAIL="ann@example.org">',
            '<SUBJECT CONTENT="Offers">', *lines))
        r = prog.run("job.txt", "/NOERROR")
    assert r.returncode == 0, r.stderr
    return server.received[0].message


@needs_html_text
def test_newsletter_plain_text_holds_greeting_offers_and_links(prog):
    plain, _ = alternative(deliver_example(prog, "newsletter.job").message)
    assert text_lines(plain) == [
        "logo",
        "",
        "Dear Ann,",
        "",
        "Thank you for shopping with us.",
        "Here are this week's offers.",
        "",
        "Offer | Price",
        "Green tea, 100 g | 3.50",
        "Lemon cake | 2.00",
        "Orange jam, 250 g | 4.25",
        "",
        "Valid until Sunday. The full price list is attached.",
        "",
        "Order online at shop.example.org <https://shop.example.org/offers> or write to orders@example.org.",
    ]


# Without a template the message lines are the HTML (lines with tags in them
# would be read as tags of the job script), and their line ends are blanks.
@pytest.mark.parametrize("html, text, charset", [
    (["Caf&eacute;", "cr&egrave;me"], "Café crème", "iso-8859-1"),
    (["Price:", "5&nbsp;&euro;"], "Price: 5 €", "utf-8"),
])
@needs_html_text
def test_plain_rendering_follows_the_charset_rules_of_the_text_part(prog, html, text, charset):
    plain, _ = alternative(send(prog, "<EMAIL TYPE=HTML>", "<MEMO>", *html, "<ENDMEMO>"))
    assert plain.get_content_charset() == charset
    assert text_lines(plain) == [text]


PDF = b"%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n"
TYPES = {
    "report.pdf": "application/pdf",
    "prices.xlsx": "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
    "notes.csv": "text/csv",
    "data.unheardof": "application/octet-stream",
}


@pytest.mark.parametrize("kind", ["html", "plain"])
def test_images_and_attachments_carry_their_media_types(prog, kind):
    prog.write("logo.png", png())
    prog.write("mail.html", '<html><body>\r\n<img src="logo.png" alt="Logo">\r\n<p>Hello</p>\r\n</body></html>\r\n')
    for name in TYPES:
        prog.write(name, PDF if name.endswith(".pdf") else b"a,b\r\n1,2\r\n")
    body = (["<EMAIL TYPE=HTML>", '<TEMPLATE FILE="mail.html">'] if kind == "html"
            else ['<MESSAGE CONTENT="Hello">'])
    msg = send(prog, *body, *[f'<ATTACHMENT FILE="{name}">' for name in TYPES])
    parts = {p.get_filename(): (p.get_content_type(), p.get_content_disposition())
             for p in msg.walk() if p.get_filename()}
    expected = {name: (ctype, "attachment") for name, ctype in TYPES.items()}
    if kind == "html":
        expected["logo.png"] = ("image/png", "inline")
    assert parts == expected
    assert next(p for p in msg.walk() if p.get_filename() == "report.pdf").get_payload(decode=True) == PDF
