// The search box that adds a patch where the user asked: the catalogue's classes whose name,
// category and description hold every typed word, in any order, those matched by name first.
// Arrows move through the list, Enter or a click takes the class, Escape or a click elsewhere
// closes it.
const shownAtMost = 12;

const wordsOf = (text) => text.toLowerCase().split(/\s+/).filter(Boolean);

export function matchingClasses(classes, query) {
  const words = wordsOf(query);
  const scored = [];
  for (const patchClass of classes) {
    const name = patchClass.class.toLowerCase();
    const text = `${name} ${patchClass.category} ${patchClass.description}`.toLowerCase();
    if (!words.every((word) => text.includes(word))) continue;
    scored.push({patchClass, byName: words.filter((word) => name.includes(word)).length});
  }
  // Stable: equal scores keep the catalogue's order.
  return scored.sort((a, b) => b.byName - a.byName).map(({patchClass}) => patchClass);
}

// Opens the box at a point of the page over `classes`; `choose(patchClass)` is called with the
// class taken.
export function openSearch(classes, {x, y}, choose, heading = 'Add a patch') {
  document.querySelector('.search-box')?.remove();
  const box = document.createElement('div');
  box.className = 'search-box';
  box.style.left = `${Math.max(0, Math.min(x, innerWidth - 340))}px`;
  box.style.top = `${Math.max(0, Math.min(y, innerHeight - 320))}px`;
  const title = Object.assign(document.createElement('div'), {className: 'search-title', textContent: heading});
  const field = Object.assign(document.createElement('input'), {type: 'search', placeholder: 'Search patches'});
  const list = Object.assign(document.createElement('ul'), {role: 'listbox'});
  box.append(title, field, list);
  document.body.append(box);
  let shown = [];
  let chosen = 0;

  const close = () => {
    box.remove();
    removeEventListener('pointerdown', outside, true);
  };
  const take = (patchClass) => {
    close();
    choose(patchClass);
  };
  const outside = (event) => {
    if (!box.contains(event.target)) close();
  };
  const highlight = () => {
    [...list.children].forEach((item, i) => item.setAttribute('aria-selected', String(i === chosen)));
    list.children[chosen]?.scrollIntoView({block: 'nearest'});
  };
  const fill = () => {
    shown = matchingClasses(classes, field.value).slice(0, shownAtMost);
    chosen = 0;
    list.replaceChildren(
      ...shown.map((patchClass) => {
        const item = document.createElement('li');
        item.setAttribute('role', 'option');
        item.dataset.class = patchClass.class;
        const name = Object.assign(document.createElement('b'), {textContent: patchClass.class});
        const about = Object.assign(document.createElement('small'), {textContent: patchClass.description});
        item.append(name, about);
        item.addEventListener('pointerdown', (event) => {
          event.preventDefault();
          take(patchClass);
        });
        return item;
      }),
    );
    if (!shown.length) list.append(Object.assign(document.createElement('li'), {className: 'none', textContent: 'no patch matches'}));
    highlight();
  };
  field.addEventListener('input', fill);
  field.addEventListener('keydown', (event) => {
    if (event.key === 'ArrowDown' || event.key === 'ArrowUp') {
      const step = event.key === 'ArrowDown' ? 1 : -1;
      chosen = (chosen + step + shown.length) % Math.max(shown.length, 1);
      highlight();
    } else if (event.key === 'Enter') {
      if (shown[chosen]) take(shown[chosen]);
    } else if (event.key === 'Escape') {
      close();
    } else {
      return;
    }
    event.preventDefault();
  });
  addEventListener('pointerdown', outside, true);
  fill();
  field.focus();
}
