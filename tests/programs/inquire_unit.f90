! INQUIRE by unit: the answers the standard fixes for a connected
! formatted sequential unit, a formatted unit opened with explicit modes
! (and after a WRITE that overrides them for one statement, and a re-OPEN
! that changes them), an unformatted stream unit, a read-only unit, a
! unit that is not connected, a big-endian unit and standard output.
program inquire_unit
  implicit none
  character(20) :: a, b, c, d, e, f
  logical :: ex, op, nd
  integer :: num, rl, sz
  integer(8) :: p8
  integer(2) :: n2
  logical(1) :: l1

  open (10, file='seq.txt', status='replace', form='formatted')
  inquire (10, exist=ex, opened=op, named=nd, number=num)
  print *, 'connected', ex, op, nd, num
  inquire (10, access=a, sequential=b, direct=c, stream=d, form=e, formatted=f)
  print *, trim(a), ' ', trim(b), ' ', trim(c), ' ', trim(d), ' ', trim(e), ' ', trim(f)
  inquire (10, unformatted=a, action=b, read=c, write=d, readwrite=e)
  print *, trim(a), ' ', trim(b), ' ', trim(c), ' ', trim(d), ' ', trim(e)
  inquire (10, position=a, asynchronous=b)
  print *, 'open ', trim(a), ' ', trim(b)
  write (10, '(a)') 'one', 'two', 'three'
  rewind (10)
  inquire (10, position=a)
  print *, 'rewound ', trim(a)
  read (10, *) b
  backspace (10)
  inquire (10, position=a)
  print *, 'back at the start ', trim(a)
  read (10, *) b
  endfile (10)
  inquire (10, position=a)
  print *, 'after endfile ', trim(a)
  inquire (10, number=n2, opened=l1)
  print *, 'narrow kinds', n2, l1
  close (10, status='delete')

  open (11, file='modes.txt', status='replace', blank='zero', decimal='comma', delim='quote', &
        pad='no', round='up', sign='plus')
  inquire (11, blank=a, decimal=b, delim=c, pad=d, round=e, sign=f)
  print *, trim(a), ' ', trim(b), ' ', trim(c), ' ', trim(d), ' ', trim(e), ' ', trim(f)
  write (11, '(f6.2)', decimal='point', sign='suppress', round='down') 1.25
  inquire (11, decimal=b, round=e, sign=f)
  print *, 'after the override ', trim(b), ' ', trim(e), ' ', trim(f)
  open (11, file='modes.txt', blank='null', decimal='point', delim='apostrophe', pad='yes', &
        round='zero', sign='suppress')
  inquire (11, blank=a, decimal=b, delim=c, pad=d, round=e, sign=f)
  print *, trim(a), ' ', trim(b), ' ', trim(c), ' ', trim(d), ' ', trim(e), ' ', trim(f)
  open (11, file='modes.txt', delim='none', round='nearest', decimal='comma')
  inquire (11, delim=c, round=e, decimal=b)
  print *, trim(c), ' ', trim(e), ' ', trim(b)
  close (11, status='delete')

  open (12, file='st.bin', access='stream', form='unformatted', status='replace')
  write (12) 1, 2, 3
  inquire (12, pos=p8, size=sz, recl=rl)
  print *, 'stream', int(p8), sz, rl
  write (12) 4.0d0
  inquire (12, pos=p8, size=sz)
  print *, 'stream', int(p8), sz
  inquire (12, access=a, sequential=b, stream=c, form=d, unformatted=e, formatted=f)
  print *, trim(a), ' ', trim(b), ' ', trim(c), ' ', trim(d), ' ', trim(e), ' ', trim(f)
  inquire (12, blank=a, delim=b, pad=c, decimal=d)
  print *, trim(a), ' ', trim(b), ' ', trim(c), ' ', trim(d)
  inquire (12, encoding=a)
  print *, trim(a)
  close (12)
  open (12, file='st.bin', access='stream', form='unformatted', position='append')
  inquire (12, pos=p8, position=a)
  print *, 'appending at', int(p8), ' ', trim(a)
  close (12, status='delete')

  open (13, file='ro.txt', status='replace')
  close (13)
  open (13, file='ro.txt', action='read', position='rewind')
  inquire (13, action=a, read=b, write=c, readwrite=d, position=e)
  print *, trim(a), ' ', trim(b), ' ', trim(c), ' ', trim(d), ' ', trim(e)
  close (13, status='delete')

  inquire (14, exist=ex, opened=op)
  print *, 'not connected', ex, op
  inquire (14, access=a, form=b, action=c, blank=d, delim=e, position=f)
  print *, trim(a), ' ', trim(b), ' ', trim(c), ' ', trim(d), ' ', trim(e), ' ', trim(f)
  inquire (14, sequential=a, direct=b, formatted=c, unformatted=d)
  print *, trim(a), ' ', trim(b), ' ', trim(c), ' ', trim(d)
  inquire (14, round=a, sign=b, decimal=c, asynchronous=d, recl=rl, size=sz)
  print *, trim(a), ' ', trim(b), ' ', trim(c), ' ', trim(d), rl, sz

  open (15, file='be.bin', form='unformatted', convert='big_endian', status='replace')
  inquire (15, convert=a, form=b, unformatted=c)
  print *, trim(a), ' ', trim(b), ' ', trim(c)
  close (15, status='delete')

  inquire (6, opened=op, access=a, form=b, formatted=c)
  print *, 'standard output', op, ' ', trim(a), ' ', trim(b), ' ', trim(c)
end program inquire_unit
