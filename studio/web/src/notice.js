// A message from the server shown where the user acted, until it is clicked or a while passes.
const shownFor = 8000;

export function showNotice(message, {x, y}) {
  const notice = document.createElement('div');
  notice.className = 'notice';
  notice.setAttribute('role', 'alert');
  notice.textContent = message;
  notice.style.left = `${Math.min(x, innerWidth - 380)}px`;
  notice.style.top = `${Math.min(y + 12, innerHeight - 60)}px`;
  notice.addEventListener('click', () => notice.remove());
  document.body.append(notice);
  setTimeout(() => notice.remove(), shownFor);
  return notice;
}

// The notice shown beside each element, which a newer one there replaces.
const shownAt = new WeakMap();

// The same beside an element: a button, a field.
export function showNoticeAt(message, element) {
  clearNoticeAt(element);
  const rect = element.getBoundingClientRect();
  shownAt.set(element, showNotice(message, {x: rect.left, y: rect.bottom}));
}

// Takes away the notice beside `element`, once what it refused has gone through.
export function clearNoticeAt(element) {
  shownAt.get(element)?.remove();
  shownAt.delete(element);
}
