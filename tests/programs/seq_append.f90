! POSITION='append' adds records after the existing ones.
program seq_append
  implicit none
  open (22, file='ap.txt', status='replace')
  write (22, '(a)') 'first'
  close (22)
  open (22, file='ap.txt', status='old', position='append')
  write (22, '(a)') 'second'
  close (22)
  open (22, file='ap.txt', position='append', action='write')
  write (22, '(a, i3)') 'third', 3
  close (22)
end program seq_append
